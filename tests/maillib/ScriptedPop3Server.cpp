#include "ScriptedPop3Server.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

// One client connection; lives in the server's thread.
class ScriptedConnection : public QObject {
  public:
    ScriptedConnection(ScriptedPop3Server* owner, QTcpSocket* socket)
        : QObject(socket), m_owner(owner), m_script(owner->m_script), m_socket(socket),
          m_index(owner->m_connections++) {
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedConnection::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &ScriptedConnection::onBytesWritten);
        connect(socket, &QTcpSocket::disconnected, this, [owner] { ++owner->m_closed; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
#ifdef Q_OS_WIN
        // Wine on a busy machine can lose the notice of a client's reset; asking the socket
        // again finds it.
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [socket] {
            if (socket->bytesToWrite() > 0)
                socket->flush();
            else
                socket->waitForReadyRead(0);
        });
        poll->start(200);
#endif
        if (m_script.fault == Fault::SlowReplies)
            QTimer::singleShot(m_script.delayMs, this, &ScriptedConnection::greet);
        else
            greet();
    }

  private:
    using Fault = ScriptedPop3Server::Fault;

    void greet() {
        if (m_script.fault == Fault::SilentGreeting)
            return;
        if (m_script.fault == Fault::NonsenseGreeting)
            send("HELLO, THIS IS NOT POP3\r\n");
        else if (m_script.fault == Fault::TlsGreeting)
            send(QByteArray("\x15\x03\x01\x00\x02\x02\x46", 7)); // alert: protocol version
        else
            send("+OK scripted ready" +
                 (m_script.timestamp ? QByteArray(" ") + ScriptedPop3Server::kTimestamp
                                     : QByteArray()) +
                 "\r\n");
    }

    void send(const QByteArray& bytes) {
        m_socket->write(bytes);
    }

    qint64 messageSize(int n) const {
        if (m_script.fault == Fault::HugeMessage && n == m_script.faultMessage)
            return m_script.claimedSize;
        return m_script.messages.at(n - 1).size();
    }

    static QByteArray stuffed(const QByteArray& message) {
        QByteArray out;
        for (const QByteArray& line : message.split('\n')) {
            if (line.startsWith('.'))
                out += '.';
            out += line + '\n';
        }
        out.chop(1);
        if (!out.endsWith("\r\n"))
            out += "\r\n";
        return out;
    }

    void onReadyRead() {
        m_in += m_socket->readAll();
        int batch = 0;
        for (qsizetype i = 0; i < m_in.size(); ++i) {
            if (m_in[i] == '\n')
                ++batch;
        }
        while (true) {
            const qsizetype lf = m_in.indexOf('\n');
            if (lf < 0)
                break;
            QByteArray line = m_in.left(lf).trimmed();
            m_in.remove(0, lf + 1);
            m_owner->record(line, batch);
            m_pending.append(line);
        }
        process();
    }

    void onBytesWritten() {
        if (m_hugeLeft > 0 && m_socket->bytesToWrite() < 256 * 1024)
            streamHuge();
        if (m_endless && m_socket->bytesToWrite() < 256 * 1024)
            streamEndless();
    }

    // Lines from next() for as long as the client reads, never more than 256 KB ahead of it.
    void startEndless(std::function<QByteArray()> next) {
        m_endless = std::move(next);
        streamEndless();
    }

    void streamEndless() {
        QByteArray chunk;
        while (chunk.size() < 64 * 1024)
            chunk += m_endless();
        send(chunk);
    }

    void streamHuge() {
        const QByteArray line = QByteArray(78, 'x') + "\r\n";
        QByteArray chunk;
        while (m_hugeLeft > 0 && chunk.size() < 64 * 1024) {
            chunk += line;
            m_hugeLeft -= line.size();
        }
        send(chunk);
        if (m_hugeLeft <= 0) {
            m_hugeLeft = 0;
            send(".\r\n");
            ++m_owner->m_retrs;
            process();
        }
    }

    void process() {
        while (!m_pending.isEmpty() && m_hugeLeft == 0 && !m_stalled && !m_endless && !m_delaying) {
            if (m_script.fault == Fault::SlowReplies) {
                m_delaying = true;
                QTimer::singleShot(m_script.delayMs, this, [this, line = m_pending.takeFirst()] {
                    m_delaying = false;
                    answer(line);
                    process();
                });
                return;
            }
            answer(m_pending.takeFirst());
        }
    }

    void answer(const QByteArray& line) {
        const QByteArray verb = line.split(' ').value(0).toUpper();
        const QByteArray arg = line.mid(verb.size()).trimmed();
        const int count = int(m_script.messages.size());
        const bool stls = m_script.fault == Fault::StlsRefused ||
                          m_script.fault == Fault::StlsInjected ||
                          m_script.fault == Fault::StlsNoHandshake ||
                          (m_script.fault == Fault::StlsFirstOnly && m_index == 0);
        if (verb == "CAPA" && m_script.fault == Fault::EndlessCapa) {
            send("+OK\r\n");
            startEndless(
                [n = 0]() mutable { return "X-CAPABILITY-" + QByteArray::number(++n) + "\r\n"; });
        } else if (verb == "CAPA") {
            send("+OK\r\nUSER\r\n" + QByteArray(m_script.uidl ? "UIDL\r\n" : "") +
                 QByteArray(m_script.pipelining ? "PIPELINING\r\n" : "") +
                 QByteArray(stls ? "STLS\r\n" : "") + ".\r\n");
        } else if (verb == "STLS" && stls) {
            send(m_script.fault == Fault::StlsRefused || m_script.fault == Fault::StlsFirstOnly
                     ? "-ERR not now\r\n"
                 : m_script.fault == Fault::StlsInjected ? "+OK begin\r\n+OK injected\r\n"
                                                         : "+OK begin\r\n");
        } else if (verb == "USER" && m_script.fault == Fault::UserRefused) {
            send("-ERR no such user\r\n");
        } else if (verb == "USER") {
            m_user = arg;
            send("+OK\r\n");
        } else if (verb == "PASS") {
            m_authed = m_user == "alice" && arg == "secret";
            send(m_authed ? "+OK logged in\r\n" : "-ERR [AUTH] Authentication failed.\r\n");
        } else if (verb == "APOP") {
            const QByteArray expected =
                QCryptographicHash::hash(QByteArray(ScriptedPop3Server::kTimestamp) + "secret",
                                         QCryptographicHash::Md5)
                    .toHex();
            m_authed = arg == "alice " + expected;
            send(m_authed ? "+OK logged in\r\n" : "-ERR [AUTH] Authentication failed.\r\n");
        } else if (!m_authed && verb != "QUIT") {
            send("-ERR not logged in\r\n");
        } else if (verb == "STAT") {
            qint64 total = 0;
            for (int n = 1; n <= count; ++n)
                total += messageSize(n);
            const QByteArray claimed = m_script.fault == Fault::HugeStat ? "2147483648"
                                       : m_script.statClaim >= 0
                                           ? QByteArray::number(m_script.statClaim)
                                           : QByteArray::number(count);
            send("+OK " + claimed + ' ' + QByteArray::number(total) + "\r\n");
        } else if (verb == "LIST" && m_script.fault == Fault::ListRefused) {
            send("-ERR not today\r\n");
        } else if (verb == "LIST" && m_script.fault == Fault::EndlessList) {
            send("+OK\r\n");
            startEndless([n = 0]() mutable { return QByteArray::number(++n) + " 100\r\n"; });
        } else if (verb == "LIST") {
            QByteArrayList lines;
            for (int n = 1; n <= count; ++n) {
                if (m_script.fault == Fault::ListMalformed && n == 1)
                    lines << "1 -5\r\n";
                else if (m_script.fault != Fault::ListSkips || n != m_script.faultMessage)
                    lines << QByteArray::number(n) + ' ' + QByteArray::number(messageSize(n)) +
                                 "\r\n";
            }
            lines << ".\r\n";
            send("+OK\r\n");
            if (m_script.listLinesPerSecond > 0)
                pace(lines);
            else
                send(lines.join());
        } else if (verb == "UIDL" && m_script.uidl && m_script.fault == Fault::EndlessUidl) {
            send("+OK\r\n");
            startEndless([n = 0]() mutable {
                ++n;
                return QByteArray::number(n) + " endless-" + QByteArray::number(n) + "\r\n";
            });
        } else if (verb == "UIDL" && m_script.uidl && arg.isEmpty()) {
            QByteArray reply = "+OK\r\n";
            for (int n = 1; n <= count; ++n) {
                if (m_script.fault != Fault::UidlSkips || n != m_script.faultMessage)
                    reply += QByteArray::number(n) + ' ' +
                             ScriptedPop3Server::uid(m_script.messages.at(n - 1)) + "\r\n";
            }
            send(reply + ".\r\n");
        } else if (verb == "RETR") {
            retr(arg.toInt());
        } else if (verb == "QUIT") {
            send("+OK bye\r\n");
            m_socket->disconnectFromHost();
        } else {
            send("-ERR unknown command\r\n");
        }
    }

    // Sends lines at the script's pace, answering nothing else meanwhile.
    void pace(const QByteArrayList& lines) {
        m_stalled = true;
        auto* timer = new QTimer(this);
        QElapsedTimer clock;
        clock.start();
        connect(timer, &QTimer::timeout, this,
                [this, timer, lines, clock, sent = qsizetype(0)]() mutable {
                    const qsizetype due =
                        qMin(lines.size(),
                             qsizetype(clock.elapsed() * m_script.listLinesPerSecond / 1000));
                    QByteArray chunk;
                    for (; sent < due; ++sent)
                        chunk += lines.at(sent);
                    send(chunk);
                    if (sent == lines.size()) {
                        timer->deleteLater();
                        m_stalled = false;
                        process();
                    }
                });
        timer->start(10);
    }

    void retr(int n) {
        if (n == m_script.faultMessage && m_script.fault == Fault::RetrRefused) {
            send("-ERR no such message\r\n");
            return;
        }
        if (n < 1 || n > m_script.messages.size()) {
            send("-ERR no such message\r\n");
            return;
        }
        if (n == m_script.faultMessage) {
            const QByteArray body = stuffed(m_script.messages.at(n - 1));
            switch (m_script.fault) {
            case Fault::DropInMessage:
                send("+OK\r\n" + body.left(body.size() / 2));
                m_socket->flush();
                m_socket->disconnectFromHost();
                m_pending.clear();
                m_stalled = true;
                return;
            case Fault::StallInMessage:
                send("+OK\r\n" + body.left(body.size() / 2));
                m_stalled = true;
                return;
            case Fault::NonsenseReply:
                send("* 1 FETCH (BODY[] {42}\r\n");
                return;
            case Fault::HugeMessage:
                send("+OK\r\n" + body);
                m_hugeLeft = m_script.hugeBytes;
                streamHuge();
                return;
            case Fault::EndlessRetr:
                send("+OK\r\nSubject: endless\r\n\r\n");
                startEndless([] { return QByteArray(78, 'y') + "\r\n"; });
                return;
            case Fault::TrickleRetr: {
                send("+OK\r\n");
                m_stalled = true;
                auto* timer = new QTimer(this);
                connect(timer, &QTimer::timeout, this, [this] { send("x"); });
                timer->start(m_script.trickleMs);
                return;
            }
            default:
                break;
            }
        }
        send("+OK " + QByteArray::number(messageSize(n)) + " octets\r\n" +
             stuffed(m_script.messages.at(n - 1)) + ".\r\n");
        ++m_owner->m_retrs;
    }

    ScriptedPop3Server* m_owner;
    const ScriptedPop3Server::Script& m_script;
    QTcpSocket* m_socket;
    int m_index; // 0 for the server's first connection
    QByteArray m_in;
    QList<QByteArray> m_pending;
    QByteArray m_user;
    bool m_authed = false;
    bool m_stalled = false;
    qint64 m_hugeLeft = 0;
    std::function<QByteArray()> m_endless;
    bool m_delaying = false;
};

ScriptedPop3Server::ScriptedPop3Server(const Script& script) : m_script(script) {
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_server = new QTcpServer(m_context);
            m_server->listen(QHostAddress::LocalHost, 0);
            m_port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this] {
                while (QTcpSocket* socket = m_server->nextPendingConnection())
                    new ScriptedConnection(this, socket);
            });
        },
        Qt::BlockingQueuedConnection);
}

ScriptedPop3Server::~ScriptedPop3Server() {
    QMetaObject::invokeMethod(
        m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

QByteArray ScriptedPop3Server::uid(const QByteArray& message) {
    return QCryptographicHash::hash(message, QCryptographicHash::Md5).toHex();
}

void ScriptedPop3Server::record(const QByteArray& command, int batch) {
    QMutexLocker lock(&m_mutex);
    m_commands.append(command);
    if (batch > m_maxBatch)
        m_maxBatch = batch;
}

QList<QByteArray> ScriptedPop3Server::commands() const {
    QMutexLocker lock(&m_mutex);
    return m_commands;
}
