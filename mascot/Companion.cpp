#include "Companion.h"

#include "EffectSound.h"
#include "Program.h"
#include "StartupCharacter.h"
#include "WindowRegistry.h"
#include "nMail.h"

#include <QTimer>

Companion::Companion(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form3"), "DEFGDEGF", 2400, 300, parent) {
    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &Companion::meetCharacter);
    Timer2->start();
}

void Companion::Form_Load() {
    loadCharacter();
}

void Companion::tick() {
    runTick(false);
}

void Companion::meetCharacter() {
    // The wait below lasts longer than the interval; never nest.
    if (m_inMeeting)
        return;
    StartupCharacter* f1 = win<StartupCharacter>();
    if (Left() == f1->Left() && Top() == f1->Top()) {
        m_inMeeting = true;
        playSound();
        const qint32 pause = 1200;
        Wait(pause);
        m_inMeeting = false;
    }
}

void Companion::Form_Unload() {
    win<StartupCharacter>()->Show();
    EffectSound::stop();
    NMailEndWinSock();
    Program::endAtOnce();
}
