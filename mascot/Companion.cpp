#include "Companion.h"

#include "EffectSound.h"
#include "MailLibrary.h"
#include "Program.h"
#include "StartupCharacter.h"
#include "Wait.h"
#include "WindowRegistry.h"

#include <QTimer>

Companion::Companion(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form3"), "DEFGDEGF", 2400, 300, parent) {
    meetingTimer = new QTimer(this);
    meetingTimer->setInterval(1000);
    connect(meetingTimer, &QTimer::timeout, this, &Companion::meetCharacter);
    meetingTimer->start();
}

void Companion::onLoad() {
    loadCharacter();
}

void Companion::tick() {
    runTick(false);
}

void Companion::meetCharacter() {
    // The wait below lasts longer than the interval; never nest.
    if (m_inMeeting)
        return;
    StartupCharacter* character = win<StartupCharacter>();
    if (leftTwips() == character->leftTwips() && topTwips() == character->topTwips()) {
        m_inMeeting = true;
        playSound();
        const qint32 pause = 1200;
        waitProcessingEvents(pause);
        m_inMeeting = false;
    }
}

void Companion::onUnload() {
    win<StartupCharacter>()->showOrRaise();
    EffectSound::stop();
    stopMailLibrary();
    Program::endAtOnce();
}
