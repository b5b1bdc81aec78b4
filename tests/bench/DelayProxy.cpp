#include "DelayProxy.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>

namespace {

// One direction of one connection.
class DelayedPipe : public QObject {
  public:
    DelayedPipe(QTcpSocket* from, QTcpSocket* to, int delayMs)
        : QObject(from), m_from(from), m_to(to), m_delayMs(delayMs) {
        m_clock.start();
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &DelayedPipe::release);
        connect(from, &QTcpSocket::readyRead, this, [this] {
            m_queue.push_back({m_clock.elapsed() + m_delayMs, m_from->readAll()});
            if (!m_timer.isActive())
                schedule();
        });
        connect(from, &QTcpSocket::disconnected, this, [this] {
            m_closing = true;
            if (m_queue.empty())
                m_to->disconnectFromHost();
        });
    }

  private:
    void schedule() {
        m_timer.start(int(qMax<qint64>(0, m_queue.front().first - m_clock.elapsed())));
    }

    void release() {
        while (!m_queue.empty() && m_queue.front().first <= m_clock.elapsed()) {
            m_to->write(m_queue.front().second);
            m_queue.pop_front();
        }
        if (!m_queue.empty())
            schedule();
        else if (m_closing)
            m_to->disconnectFromHost();
    }

    QTcpSocket* m_from;
    QTcpSocket* m_to;
    int m_delayMs;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<std::pair<qint64, QByteArray>> m_queue;
    bool m_closing = false;
};

} // namespace

DelayProxy::DelayProxy(quint16 upstreamPort, int delayMs) {
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this, upstreamPort, delayMs] {
            m_server = new QTcpServer(m_context);
            m_server->listen(QHostAddress::LocalHost, 0);
            m_port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server,
                             [this, upstreamPort, delayMs] {
                                 while (QTcpSocket* client = m_server->nextPendingConnection()) {
                                     auto* upstream = new QTcpSocket(client);
                                     upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                                     client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                                     upstream->connectToHost(QHostAddress::LocalHost, upstreamPort);
                                     new DelayedPipe(client, upstream, delayMs);
                                     new DelayedPipe(upstream, client, delayMs);
                                 }
                             });
        },
        Qt::BlockingQueuedConnection);
}

DelayProxy::~DelayProxy() {
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}
