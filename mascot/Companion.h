#pragma once
// The companion: the same puppy upright and barking. It loads when first asked to stand in, and
// waits hidden next to the startup character between barks; it barks at every meeting check while
// it stands exactly on the startup character's spot.

#include "CharacterWindow.h"

#include <functional>

class Companion : public CharacterWindow {
    Q_OBJECT
  public:
    explicit Companion(QWidget* parent = nullptr);
    // The character it stands in for: it barks on that one's spot and shows it again when it
    // unloads. Loaded on first use, as any window.
    static void setStandsInFor(std::function<CharacterWindow*()> character);

    QTimer* meetingTimer = nullptr;

    void onLoad() override;
    void onUnload() override;
    void tick() override;
    void meetCharacter();

    // True while a meeting check waits; a tick that comes meanwhile is skipped.
    bool inMeetingWait() const { return m_inMeeting; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void runTimers(bool run);

    bool m_inMeeting = false;
};
