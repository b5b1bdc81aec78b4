#pragma once
// When the automatic mail check runs: every interval minutes after the end of the last one, the
// first one minute after it is turned on (the program's start, or a new interval in the settings
// dialog), so that a program started at login looks for mail soon rather than a whole interval
// later. A check that could not run (no network yet, a check by hand under way) is tried again
// one minute later.
//
// Pure arithmetic over a clock that the caller gives; AutoCheck drives it with a timer.

#include "Clock.h"

#include <QtGlobal>

class CheckScheduler {
  public:
    // The length of a minute in ms: 60000. For tests only, MOKOPON_TEST_MINUTE_MS (100 to 60000)
    // shortens it, so that a suite can watch checks at a one-minute interval without waiting
    // minutes; nothing else reads that variable.
    static qint64 minuteMs();

    explicit CheckScheduler(Clock& clock, qint64 minuteMs = CheckScheduler::minuteMs());

    // 1 .. 1440 minutes; 0, or anything outside that range, turns the checks off. A new interval
    // makes the next check due a minute later; the same one again changes nothing.
    void setInterval(qint32 minutes);
    qint32 interval() const { return m_minutes; }

    // A check began: none is due until it has ended.
    void started();
    // It ended: the next is due an interval later.
    void finished();
    // It could not run: tried again a minute later.
    void postponed();

    // Milliseconds until the next check is due, 0 when it is due now; -1 when none is (off, or
    // a check under way).
    qint64 msUntilDue() const;

  private:
    void dueAfter(qint64 ms);

    Clock& m_clock;
    const qint64 m_minuteMs;
    qint32 m_minutes = 0;
    bool m_running = false;
    bool m_due = false;
    qint64 m_dueAt = 0;
};
