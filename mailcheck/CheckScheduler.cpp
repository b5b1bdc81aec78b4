#include "CheckScheduler.h"

#include "DataFiles.h"

namespace {

constexpr qint64 kMinuteMs = 60000;

} // namespace

qint64 CheckScheduler::minuteMs() {
    bool ok = false;
    const qint64 ms = qEnvironmentVariable("MOKOPON_TEST_MINUTE_MS").toLongLong(&ok);
    return ok && ms >= 100 && ms <= kMinuteMs ? ms : kMinuteMs;
}

CheckScheduler::CheckScheduler(Clock& clock, qint64 minuteMs)
    : m_clock(clock), m_minuteMs(qBound<qint64>(1, minuteMs, kMinuteMs)) {}

void CheckScheduler::setInterval(qint32 minutes) {
    minutes = minutes >= 1 && minutes <= kMaxCheckInterval ? minutes : 0;
    if (minutes == m_minutes)
        return; // the checks go on as planned
    m_minutes = minutes;
    m_due = false;
    if (m_minutes > 0 && !m_running)
        dueAfter(m_minuteMs);
}

void CheckScheduler::started() {
    m_running = true;
    m_due = false;
}

void CheckScheduler::finished() {
    m_running = false;
    m_due = false;
    if (m_minutes > 0)
        dueAfter(m_minutes * m_minuteMs);
}

void CheckScheduler::postponed() {
    m_running = false;
    m_due = false;
    if (m_minutes > 0)
        dueAfter(m_minuteMs);
}

qint64 CheckScheduler::msUntilDue() const {
    if (!m_due)
        return -1;
    return qMax<qint64>(0, m_dueAt - m_clock.nowMs());
}

void CheckScheduler::dueAfter(qint64 ms) {
    m_due = true;
    m_dueAt = m_clock.nowMs() + ms;
}
