#pragma once
// The wait that lets window messages run: it returns strictly after waitTime milliseconds of the
// 32-bit millisecond clock (wrap-around included) and processes messages at least once. It sleeps
// in the event loop between passes instead of spinning the processor.

#include <QtGlobal>

class MsClock {
  public:
    virtual ~MsClock() = default;
    // Milliseconds on a clock that wraps at 2^32.
    virtual quint32 now() = 0;
};

class EventPump {
  public:
    virtual ~EventPump() = default;
    // Handle every pending message once.
    virtual void processPending() = 0;
    // Handle messages as they come, for at most ms milliseconds.
    virtual void idleFor(qint64 ms) = 0;
};

MsClock& systemClock();
EventPump& qtEventPump();

void waitMs(const qint32& waitTime, MsClock& clock, EventPump& pump);

// waitTime is by reference and left unchanged, as the callers pass it.
void waitProcessingEvents(const qint32& waitTime);
