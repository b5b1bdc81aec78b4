#include "Clock.h"

#include <QElapsedTimer>

namespace {

class SteadyClock final : public Clock {
  public:
    SteadyClock() { m_timer.start(); }
    qint64 nowMs() override { return m_timer.elapsed(); }

  private:
    QElapsedTimer m_timer;
};

} // namespace

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}
