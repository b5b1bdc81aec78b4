#pragma once
// The companion: the same puppy upright and barking. It loads when first asked to stand in, and
// waits hidden next to the startup character between barks; it barks at every meeting check while
// it stands exactly on the startup character's spot.

#include "CharacterWindow.h"

class Companion : public CharacterWindow {
    Q_OBJECT
  public:
    // standsInFor: the character it stands in for; it barks on that one's spot and shows it again
    // when it unloads.
    Companion(CharacterWindow& standsInFor, Surroundings surroundings, QWidget* parent = nullptr);

    QTimer* meetingTimer = nullptr;

    void onLoad() override;
    void onUnload() override;
    void tick() override;
    void meetCharacter();
    // Shows on the character's spot, and the character hides.
    void standIn();
    // Hides one twip off the character's spot (no meeting there), and the character shows again.
    void park();

    // True while a meeting check waits; a tick that comes meanwhile is skipped.
    bool inMeetingWait() const { return m_inMeeting; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void runTimers(bool run);

    CharacterWindow& m_character;
    bool m_inMeeting = false;
};
