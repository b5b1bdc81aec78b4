#include "BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>

namespace {

// Drops the user's input while the background work runs, except the right button, which ends
// the program on a character and does nothing anywhere else.
class InputGate final : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            return static_cast<QMouseEvent*>(event)->button() != Qt::RightButton;
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Drop:
            return true;
        default:
            return false;
        }
    }
};

QObject* backgroundContext() {
    // Never stopped: the program ends with its process, and a running QThread must not be
    // destroyed, so both are left to the end of the process.
    static QObject* context = [] {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("background"));
        thread->start();
        auto* object = new QObject;
        object->moveToThread(thread);
        return object;
    }();
    return context;
}

} // namespace

void runInBackground(const std::function<void()>& work) {
    QEventLoop loop;
    InputGate gate;
    QCoreApplication::instance()->installEventFilter(&gate);
    QMetaObject::invokeMethod(backgroundContext(), [&work, &loop] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    QCoreApplication::instance()->removeEventFilter(&gate);
}

void startInBackground(QObject* receiver, std::function<void()> work, std::function<void()> done) {
    QMetaObject::invokeMethod(backgroundContext(),
                              [receiver = QPointer<QObject>(receiver), work = std::move(work),
                               done = std::move(done)]() mutable {
                                  work();
                                  // The receiver is looked at on its own thread only, where it may
                                  // be destroyed.
                                  QMetaObject::invokeMethod(
                                      QCoreApplication::instance(),
                                      [receiver, done = std::move(done)] {
                                          if (receiver)
                                              done();
                                      },
                                      Qt::QueuedConnection);
                              });
}
