#pragma once
// The companion: the same puppy upright and barking. It waits hidden next to the startup character
// and barks at every meeting check while it stands exactly on the startup character's spot.

#include "CharacterWindow.h"

class Form3 : public CharacterWindow {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    QTimer* Timer2 = nullptr;

    void Form_Load() override;
    void Form_Unload() override;
    void Timer1_Timer() override;
    void Timer2_Timer();

    // True while a meeting check waits; a tick that comes meanwhile is skipped.
    bool inMeetingWait() const { return m_inMeeting; }

private:
    bool m_inMeeting = false;
};
