#include "Wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace {

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

EventPump& qtEventPump() {
    static QtPump pump;
    return pump;
}

void waitMs(const qint32& waitTime, Clock& clock, EventPump& pump) {
    const qint64 start = clock.nowMs();
    pump.processPending();
    for (;;) {
        const qint64 elapsed = clock.nowMs() - start;
        if (elapsed > qint64(waitTime))
            return;
        pump.idleFor(qint64(waitTime) - elapsed + 1);
    }
}

void waitProcessingEvents(const qint32& waitTime) {
    waitMs(waitTime, steadyClock(), qtEventPump());
}
