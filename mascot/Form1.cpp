#include "Form1.h"

#include "Form3.h"
#include "Module1.h"
#include "Module4.h"
#include "Program.h"
#include "WindowRegistry.h"
#include "nMail.h"

Form1::Form1(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form1"), "ABCCBACB", 1440, 225, parent)
{
}

void Form1::Form_Load()
{
    if (Program::anotherInstanceRunning()) {
        Unload();
        return;
    }

    // The companion loads hidden and waits 1 twip off the spot the character has before it moves
    // to the pointer.
    Form3* companion = win<Form3>();
    companion->Hide();
    companion->setLeft(Left() + 1);
    companion->setTop(Top() + 1);

    loadCharacter();

    readSettingsAndOpenDialogs();

    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
}

void Form1::readSettingsAndOpenDialogs()
{
}

void Form1::Form_Unload()
{
    PlayEffectSound(QString(), false, false, false, true);
    NMailEndWinSock();
    Program::endAtOnce();
}

void Form1::Form_DblClick() {}

void Form1::Timer1_Timer() { runTick(BarkMode == 1); }
