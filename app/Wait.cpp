#include "Wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

class SteadyClock final : public MsClock {
  public:
    quint32 now() override {
        using namespace std::chrono;
        return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
};

class QtPump final : public EventPump {
  public:
    void processPending() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void idleFor(qint64 ms) override {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(int(std::clamp<qint64>(ms, 1, 0x7fffffff)));
        loop.exec(QEventLoop::AllEvents);
    }
};

} // namespace

MsClock& systemClock() {
    static SteadyClock clock;
    return clock;
}

EventPump& qtEventPump() {
    static QtPump pump;
    return pump;
}

void waitMs(const qint32& waitTime, MsClock& clock, EventPump& pump) {
    const quint32 start = clock.now();
    pump.processPending();
    for (;;) {
        const qint64 elapsed = qint64(quint32(clock.now() - start));
        if (elapsed > qint64(waitTime))
            return;
        pump.idleFor(qint64(waitTime) - elapsed + 1);
    }
}

void waitProcessingEvents(const qint32& waitTime) {
    waitMs(waitTime, systemClock(), qtEventPump());
}
