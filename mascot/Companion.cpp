#include "Companion.h"

#include "EffectSound.h"
#include "Wait.h"

#include <QShowEvent>
#include <QTimer>

Companion::Companion(CharacterWindow& standsInFor, Surroundings surroundings, QWidget* parent)
    : CharacterWindow(QStringLiteral("Form3"), "DEFGDEGF", 2400, 300, std::move(surroundings),
                      parent),
      m_character(standsInFor) {
    meetingTimer = new QTimer(this);
    meetingTimer->setInterval(1000);
    connect(meetingTimer, &QTimer::timeout, this, &Companion::meetCharacter);
    meetingTimer->start();
}

void Companion::onLoad() {
    loadCharacter();
    // Hidden, one twip off the character's spot: no meeting there until it is asked to stand in.
    hide();
    runTimers(false);
    // Its first bark shows a frame in its outline, not the bare rectangle of a window that has
    // not ticked yet.
    showFrame(0);
    setLeftTwips(m_character.leftTwips() + 1);
    setTopTwips(m_character.topTwips() + 1);
}

void Companion::standIn() {
    // Shown before it moves onto the spot.
    showOrRaise();
    m_character.hide();
    setLeftTwips(m_character.leftTwips());
    setTopTwips(m_character.topTwips());
}

void Companion::park() {
    hide();
    setLeftTwips(m_character.leftTwips() + 1);
    setTopTwips(m_character.topTwips() + 1);
    m_character.showOrRaise();
}

// Hidden, it is parked off the spot and nobody sees its frames: its timers would only wake the
// program. A window manager's own hiding (another desktop) leaves them running.
// Its pictures go too while it hides between barks.
void Companion::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        takePicturesBack();
    CharacterWindow::showEvent(event);
    if (!event->spontaneous())
        runTimers(true);
}

void Companion::hideEvent(QHideEvent* event) {
    CharacterWindow::hideEvent(event);
    if (!event->spontaneous()) {
        runTimers(false);
        releasePictures();
    }
}

void Companion::runTimers(bool run) {
    for (QTimer* timer : {tickTimer, meetingTimer}) {
        if (!run)
            timer->stop();
        else if (!timer->isActive())
            timer->start();
    }
}

void Companion::tick() {
    runTick(false);
}

void Companion::meetCharacter() {
    // The wait below lasts longer than the interval; never nest.
    if (m_inMeeting)
        return;
    if (leftTwips() == m_character.leftTwips() && topTwips() == m_character.topTwips()) {
        m_inMeeting = true;
        playSound();
        const qint32 pause = 1200;
        waitProcessingEvents(pause);
        m_inMeeting = false;
    }
}

void Companion::onUnload() {
    m_character.showOrRaise();
    EffectSound::stop();
    endProgram();
}
