#include "MailClient.h"

#include "ChildProcess.h"
#include "MailFrames.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <algorithm>
#include <limits>
#include <memory>

namespace {

using namespace MailFrames;

// Beyond the library's own bounds: the process's start (TLS set-up included) on a busy machine.
constexpr qint64 kMarginMs = 10000;
// The name lookup, which the library leaves to the system resolver's own timeouts.
constexpr qint64 kResolverMs = 60000;
// The close: QUIT and the wait for the server to hang up.
constexpr qint64 kCloseMs = 2000;

const QString kNotStarted = QStringLiteral("メールライブラリが開始されていません。");
const QString kNoStart = QStringLiteral("メールを受け取るプロセス %1 を起動できませんでした。");
const QString kEnded = QStringLiteral("メールを受け取るプロセスが途中で終了しました。");
const QString kGarbled = QStringLiteral("メールを受け取るプロセスから不正な応答がありました。");
const QString kTimedOut = QStringLiteral("メールを受け取るプロセスが時間内に応答しませんでした。");
const QString kStopped = QStringLiteral("メールの受信は中止されました。");

// The memory of servers that offered STLS when the program gives none: it lasts the process.
class ProgramTlsMemory final : public TlsServerMemory {
  public:
    bool offeredStls(const QString& host, quint16 port) override {
        return m_servers.contains({host, port});
    }
    void rememberStls(const QString& host, quint16 port) override {
        m_servers.insert({host, port});
    }
    void clear() { m_servers.clear(); }

  private:
    QSet<std::pair<QString, quint16>> m_servers;
};

struct Connection {
    std::unique_ptr<QProcess> process;
    qint64 pid = 0;
    QByteArray pending; // read from the process, not yet a whole frame
    QDeadlineTimer checkEnd;
    QString failure; // set once the process failed; every later call fails with it
};

struct Client {
    // Guards started and pids, which stop reads from another thread.
    QMutex mutex;
    bool started = false;
    QSet<qint64> pids;

    QList<qint32> options; // option and value pairs, one for each option set
    ProgramTlsMemory ownTlsMemory;
    TlsServerMemory* tlsMemory = &ownTlsMemory;
    QHash<qint32, std::shared_ptr<Connection>> connections;
    qint32 nextHandle = 0;
    QString lastError;
    QString program;
    QStringList arguments;
};

Client& client() {
    static Client c;
    return c;
}

qint32 option(qint32 which, qint32 fallback) {
    const QList<qint32>& o = client().options;
    for (qsizetype i = 0; i + 1 < o.size(); i += 2)
        if (o[i] == which && o[i + 1] > 0)
            return o[i + 1];
    return fallback;
}

// mokopon-mail beside the executable (the build folder, an unpacked copy), or in the installed
// module folder, as the sound output module is found.
QString processPath() {
    const QString bin = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {bin, QDir(bin).filePath(QStringLiteral(MOKOPON_MODULES_FROM_BIN))}) {
        const QString path = QDir(folder).filePath(QStringLiteral(MOKOPON_MAIL_PROCESS));
        if (QFileInfo(path).isExecutable())
            return QDir::cleanPath(path);
    }
    // Missing, the start fails and says so; a bare name would run whatever PATH finds under it,
    // and hand it the password.
    return QDir(bin).filePath(QStringLiteral(MOKOPON_MAIL_PROCESS));
}

void forget(qint64 pid) {
    Client& c = client();
    QMutexLocker lock(&c.mutex);
    c.pids.remove(pid);
}

// Ends the connection's process and keeps why; the handle stays until its close.
void drop(Connection& connection, const QString& why) {
    if (connection.process) {
        forget(connection.pid);
        connection.process->kill();
        connection.process->waitForFinished(int(kMarginMs));
        connection.process.reset();
    }
    connection.failure = why;
}

bool stopped() {
    Client& c = client();
    QMutexLocker lock(&c.mutex);
    return !c.started;
}

// Sends request, then reads the process's frames until its reply, answering its questions about
// STLS on the way. The reply's payload after its kind, or nothing: the call failed, with
// lastError set.
std::optional<QByteArray> exchange(Connection& connection, const QByteArray& request,
                                   qint64 boundMs) {
    Client& c = client();
    if (!connection.failure.isEmpty()) {
        c.lastError = connection.failure;
        return std::nullopt;
    }
    const qint64 left = std::min(boundMs, connection.checkEnd.remainingTime());
    QDeadlineTimer deadline(std::max<qint64>(0, left) + kMarginMs);
    QProcess& process = *connection.process;
    process.write(request);
    QString why;
    while (why.isEmpty()) {
        // An announced length over the bound, or a frame that is neither a reply nor a question.
        bool garbage = false;
        while (const auto payload = take(connection.pending, garbage)) {
            QDataStream in(*payload);
            quint8 kind = 0;
            QString host;
            quint16 port = 0;
            setUp(in) >> kind;
            if (kind == Reply)
                return payload->mid(1);
            in >> host >> port;
            if (in.status() != QDataStream::Ok || (kind != OfferedStls && kind != RememberStls)) {
                garbage = true;
                break;
            }
            if (kind == RememberStls)
                c.tlsMemory->rememberStls(host, port);
            else
                process.write(frame(StlsAnswer, c.tlsMemory->offeredStls(host, port)));
        }
        if (garbage)
            why = kGarbled;
        else if (stopped())
            why = kStopped;
        else if (process.state() == QProcess::NotRunning)
            why = kEnded;
        else if (deadline.hasExpired())
            why = kTimedOut;
        else if (process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(),
                                                               std::numeric_limits<int>::max()))) ||
                 process.state() == QProcess::NotRunning)
            connection.pending += process.readAllStandardOutput();
    }
    drop(connection, why);
    c.lastError = why;
    return std::nullopt;
}

std::shared_ptr<Connection> connection(qint32 handle) {
    Client& c = client();
    const auto found = c.connections.constFind(handle);
    if (found == c.connections.cend()) {
        c.lastError = QStringLiteral("メールの接続番号 %1 は開かれていません。").arg(handle);
        return nullptr;
    }
    return *found;
}

// Reads the result and the failure text every reply begins with.
qint32 result(QDataStream& in) {
    qint32 value = -1;
    QString error;
    setUp(in) >> value >> error;
    if (in.status() != QDataStream::Ok) {
        client().lastError = kGarbled;
        return -1;
    }
    if (value < 0)
        client().lastError = error;
    return value;
}

// A reply that is cut short or holds less than it should.
qint32 garbled(Connection& connection) {
    drop(connection, kGarbled);
    client().lastError = kGarbled;
    return -1;
}

qint32 fetch(Kind kind, qint32 handle, qint32 number, QString (&fields)[4], QString& body) {
    const auto c = connection(handle);
    if (!c)
        return -1;
    // A message's own bound depends on the size the server gives it; the check deadline holds.
    const auto reply = exchange(*c, frame(kind, number), std::numeric_limits<qint64>::max());
    if (!reply)
        return -1;
    QDataStream in(*reply);
    const qint32 rc = result(in);
    QString f[4], b;
    in >> f[0] >> f[1] >> f[2] >> f[3] >> b;
    if (in.status() != QDataStream::Ok)
        return garbled(*c);
    if (rc == 0) {
        std::move(std::begin(f), std::end(f), std::begin(fields));
        body = std::move(b);
    }
    return rc;
}

} // namespace

namespace MailClient {

qint32 start() {
    Client& c = client();
    QMutexLocker lock(&c.mutex);
    c.started = true;
    return 0;
}

qint32 setOption(qint32 which, qint32 value) {
    if (which < MailOptionReceiveBuffer || which > MailOptionPipelineBytes)
        return -1;
    QList<qint32>& options = client().options;
    for (qsizetype i = 0; i + 1 < options.size(); i += 2)
        if (options[i] == which) {
            options[i + 1] = value;
            return 0;
        }
    options << which << value;
    return 0;
}

void setTlsServerMemory(TlsServerMemory* memory) {
    Client& c = client();
    if (!memory) {
        c.ownTlsMemory.clear();
        memory = &c.ownTlsMemory;
    }
    c.tlsMemory = memory;
}

qint32 stop() {
    Client& c = client();
    QMutexLocker lock(&c.mutex);
    c.started = false;
    for (const qint64 pid : std::as_const(c.pids))
        ChildProcess::kill(pid);
    c.pids.clear();
    return 0;
}

qint32 connect(const QString& server) {
    Client& c = client();
    if (stopped()) {
        c.lastError = kNotStarted;
        return -1;
    }
    auto connection = std::make_shared<Connection>();
    connection->checkEnd.setRemainingTime(option(MailOptionCheckDeadline, kMailCheckDeadlineMs));
    connection->process = std::make_unique<QProcess>();
    QProcess& process = *connection->process;
    const QString program = c.program.isEmpty() ? processPath() : c.program;
    process.setProgram(program);
    process.setArguments(c.arguments);
    // Its warnings go where the program's go.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the program, however the program ends. The thread that starts it lives as
    // long as the program.
    ChildProcess::tieToProgram(process);
    process.start();
    if (!process.waitForStarted(int(kMarginMs))) {
        c.lastError = kNoStart.arg(program);
        return -1;
    }
    ChildProcess::started(process);
    {
        QMutexLocker lock(&c.mutex);
        connection->pid = process.processId();
        c.pids.insert(connection->pid);
    }
    const qint64 bound =
        qint64(option(MailOptionConnectDeadline, kMailConnectDeadlineMs)) + kResolverMs;
    const auto reply = exchange(*connection, frame(Connect, c.options, server), bound);
    if (!reply)
        return -1;
    QDataStream in(*reply);
    if (result(in) < 0) {
        drop(*connection, c.lastError);
        return -1;
    }
    const qint32 handle = c.nextHandle;
    c.nextHandle = c.nextHandle == std::numeric_limits<qint32>::max() ? 0 : c.nextHandle + 1;
    c.connections.insert(handle, std::move(connection));
    return handle;
}

// The login's bound, with the time its listing may earn.
qint64 loginBound() {
    return mailLoginBoundMs(option(MailOptionLoginDeadline, kMailLoginDeadlineMs));
}

qint32 authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop) {
    const auto c = connection(handle);
    if (!c)
        return -1;
    const auto reply = exchange(*c, frame(Authenticate, id, pass, apop), loginBound());
    if (!reply)
        return -1;
    QDataStream in(*reply);
    const qint32 count = result(in);
    return in.status() == QDataStream::Ok ? count : garbled(*c);
}

qint32 authenticateUidl(qint32 handle, const QString& id, const QString& pass, qint32 apop,
                        qint32 keep, QStringList& uids, qint32& firstNumber) {
    uids.clear();
    firstNumber = 0;
    const auto c = connection(handle);
    if (!c)
        return -1;
    const auto reply = exchange(*c, frame(AuthenticateUidl, id, pass, apop, keep), loginBound());
    if (!reply)
        return -1;
    QDataStream in(*reply);
    const qint32 count = result(in);
    qint32 first = 0;
    QStringList ids;
    in >> first;
    if (in.status() != QDataStream::Ok || !readList(in, ids))
        return garbled(*c);
    if (count >= 0) {
        firstNumber = first;
        uids = std::move(ids);
    }
    return count;
}

qint32 fetchHeader(qint32 handle, qint32 number, QString (&fields)[4]) {
    QString body;
    return fetch(FetchHeader, handle, number, fields, body);
}

qint32 fetchMail(qint32 handle, qint32 number, QString (&fields)[4], QString& body) {
    return fetch(FetchMail, handle, number, fields, body);
}

qint32 mailSize(qint32 handle, qint32 number) {
    const auto c = connection(handle);
    if (!c)
        return 0;
    const auto reply = exchange(*c, frame(MailSize, number), 0);
    if (!reply)
        return 0;
    QDataStream in(*reply);
    const qint32 size = result(in);
    if (in.status() != QDataStream::Ok) {
        garbled(*c);
        return 0;
    }
    return std::max(0, size);
}

qint32 close(qint32 handle) {
    Client& c = client();
    const auto found = connection(handle);
    if (!found)
        return -1;
    c.connections.remove(handle);
    // The close fails nothing the user is told of: the last failure's text stays.
    const QString lastFailure = c.lastError;
    if (found->process && exchange(*found, frame(Close), kCloseMs))
        found->process->waitForFinished(int(kMarginMs));
    if (found->process) {
        forget(found->pid);
        found->process.reset(); // ends it if it did not end itself
    }
    c.lastError = lastFailure;
    return 0;
}

QString lastError() {
    return client().lastError;
}

void setProcessCommand(const QString& program, const QStringList& arguments) {
    client().program = program;
    client().arguments = arguments;
}

} // namespace MailClient
