#include "Form1.h"

#include "DataFiles.h"
#include "Form2.h"
#include "Form3.h"
#include "IdPassForm.h"
#include "KnownTlsServers.h"
#include "Module1.h"
#include "Module4.h"
#include "OptionForm.h"
#include "Program.h"
#include "ServerSettings.h"
#include "SetForm.h"
#include "SharedSettings.h"
#include "WindowRegistry.h"
#include "nMail.h"

#include <QLineEdit>

Form1::Form1(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form1"), "ABCCBACB", 1440, 225, parent) {}

void Form1::Form_Load() {
    if (Program::anotherInstanceRunning()) {
        Unload();
        return;
    }
    // Only the instance that holds the lock may clean up: no save of another one is under way.
    RemoveSaveLeftovers();

    // The companion loads hidden and waits 1 twip off the spot the character has before it moves
    // to the pointer.
    Form3* companion = win<Form3>();
    companion->Hide();
    companion->setLeft(Left() + 1);
    companion->setTop(Top() + 1);

    loadCharacter();

    // The hang-up flag lives in the settings dialog's check box, which this loads hidden.
    ApplyHangUpFlagTo(win<SetForm>()->Check1);
    LoadServerSettings();

    NMailInitializeWinSock();
    NMailSetOption(1, 8192);
    NMailSetTlsServerMemory(&knownTlsServers());

    if (Pop3Server.isEmpty())
        win<OptionForm>()->Show();
    IdPassForm* account = win<IdPassForm>();
    if (account->IdText->text().isEmpty() || account->PassText->text().isEmpty())
        account->Show();
}

void Form1::Form_Unload() {
    PlayEffectSound(QString(), false, false, false, true);
    NMailEndWinSock();
    Program::endAtOnce();
}

void Form1::Form_DblClick() {
    win<Form2>()->Show();
}

void Form1::Timer1_Timer() {
    runTick(BarkMode == 1);
}
