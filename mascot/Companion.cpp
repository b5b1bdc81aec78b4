#include "Companion.h"

#include "EffectSound.h"
#include "MailClient.h"
#include "Program.h"
#include "Wait.h"

#include <QTimer>

namespace {
std::function<CharacterWindow*()>& standsInFor() {
    static std::function<CharacterWindow*()> character;
    return character;
}
} // namespace

void Companion::setStandsInFor(std::function<CharacterWindow*()> character) {
    standsInFor() = std::move(character);
}

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
    if (!standsInFor())
        return;
    const CharacterWindow* character = standsInFor()();
    if (leftTwips() == character->leftTwips() && topTwips() == character->topTwips()) {
        m_inMeeting = true;
        playSound();
        const qint32 pause = 1200;
        waitProcessingEvents(pause);
        m_inMeeting = false;
    }
}

void Companion::onUnload() {
    if (standsInFor())
        standsInFor()()->showOrRaise();
    EffectSound::stop();
    MailClient::stop();
    Program::endAtOnce();
}
