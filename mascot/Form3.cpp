#include "Form3.h"

#include "Form1.h"
#include "Module4.h"
#include "Program.h"
#include "WindowRegistry.h"
#include "nMail.h"

#include <QTimer>

Form3::Form3(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form3"), "DEFGDEGF", 2400, 300, parent)
{
    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &Form3::Timer2_Timer);
    Timer2->start();
}

void Form3::Form_Load() { loadCharacter(); }

void Form3::Timer1_Timer() { runTick(false); }

void Form3::Timer2_Timer()
{
    // The wait below lasts longer than the interval; never nest.
    if (m_inMeeting)
        return;
    Form1* f1 = win<Form1>();
    if (Left() == f1->Left() && Top() == f1->Top()) {
        m_inMeeting = true;
        Command2_Click();
        const qint32 pause = 1200;
        Wait(pause);
        m_inMeeting = false;
    }
}

void Form3::Form_Unload()
{
    win<Form1>()->Show();
    PlayEffectSound(QString(), false, false, false, true);
    NMailEndWinSock();
    Program::endAtOnce();
}
