#pragma once
// The wait that lets window messages run: it returns strictly after waitTime milliseconds and
// processes messages at least once. It sleeps in the event loop between passes instead of
// spinning the processor.

#include "Clock.h"

#include <QtGlobal>

class EventPump {
  public:
    virtual ~EventPump() = default;
    // Handle every pending message once.
    virtual void processPending() = 0;
    // Handle messages as they come, for at most ms milliseconds.
    virtual void idleFor(qint64 ms) = 0;
};

EventPump& qtEventPump();

void waitMs(const qint32& waitTime, Clock& clock, EventPump& pump);

// waitTime is by reference and left unchanged, as the callers pass it.
void waitProcessingEvents(const qint32& waitTime);
