#pragma once
// A TCP proxy on 127.0.0.1 that holds every chunk it reads for a fixed time before passing it
// on, in both directions: a long network for a benchmark on one machine. Runs in its own thread.

#include <QThread>

class QTcpServer;

class DelayProxy {
  public:
    DelayProxy(quint16 upstreamPort, int delayMs);
    ~DelayProxy();
    quint16 port() const { return m_port; }

  private:
    QThread m_thread;
    QObject* m_context = nullptr;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
};
