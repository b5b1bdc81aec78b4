#include "BackgroundThread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace {

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
