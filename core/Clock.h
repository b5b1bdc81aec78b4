#pragma once
// The one clock the program's waits and schedules read. Tests hand their own to what they test,
// one that moves only when they say.

#include <QtGlobal>

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds on a clock that only goes forward.
    virtual qint64 nowMs() = 0;
};

// The system's steady clock.
Clock& steadyClock();
