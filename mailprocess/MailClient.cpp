#include "MailClient.h"

#include "ChildProcess.h"
#include "MailFrames.h"
#include "ProgramFolders.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QProcess>
#include <algorithm>
#include <limits>

namespace {

using namespace MailFrames;

// Beyond the session's own bounds: the process's start (TLS set-up included) on a busy machine.
constexpr qint64 kMarginMs = 10000;
// The name lookup, which the session leaves to the system resolver's own timeouts.
constexpr qint64 kResolverMs = 60000;
// The close: QUIT and the wait for the server to hang up.
constexpr qint64 kCloseMs = 2000;

const QString kNotStarted = QStringLiteral("メールライブラリが開始されていません。");
const QString kNoStart = QStringLiteral("メールを受け取るプロセス %1 を起動できませんでした。");
const QString kEnded = QStringLiteral("メールを受け取るプロセスが途中で終了しました。");
const QString kGarbled = QStringLiteral("メールを受け取るプロセスから不正な応答がありました。");
const QString kTimedOut = QStringLiteral("メールを受け取るプロセスが時間内に応答しませんでした。");
const QString kStopped = QStringLiteral("メールの受信は中止されました。");
const QString kNotOpen = QStringLiteral("メールの接続は開かれていません。");

// Every mail process of the program, which stop ends from any thread.
struct Processes {
    QMutex mutex;
    bool stopped = false;
    QSet<qint64> pids;
};

Processes& processes() {
    static Processes p;
    return p;
}

bool stopped() {
    Processes& p = processes();
    QMutexLocker lock(&p.mutex);
    return p.stopped;
}

void forget(qint64 pid) {
    Processes& p = processes();
    QMutexLocker lock(&p.mutex);
    p.pids.remove(pid);
}

// Reads the result and the failure text every reply begins with; the text is the user's.
std::optional<qint32> result(QDataStream& in, QString& error) {
    qint32 value = -1;
    setUp(in) >> value >> error;
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    error = error.left(kMailMaxTextChars);
    return value;
}

} // namespace

struct MailClient::Connection {
    std::unique_ptr<QProcess> process;
    qint64 pid = 0;
    QByteArray pending; // read from the process, not yet a whole frame
    QDeadlineTimer checkEnd;
    QString failure; // set once the process failed; every later call fails with it

    // Ends the process and keeps why.
    void drop(const QString& why) {
        if (process) {
            forget(pid);
            process->kill();
            process->waitForFinished(int(kMarginMs));
            process.reset();
        }
        failure = why;
    }
};

bool MailClient::OwnTlsMemory::offeredStls(const QString& host, quint16 port) {
    return m_servers.contains({host, port});
}

void MailClient::OwnTlsMemory::rememberStls(const QString& host, quint16 port) {
    m_servers.insert({host, port});
}

MailClient::MailClient(Setup setup) : m_setup(std::move(setup)) {
    if (!m_setup.tlsMemory)
        m_setup.tlsMemory = &m_ownTlsMemory;
}

MailClient::~MailClient() {
    close();
}

void MailClient::stop() {
    Processes& p = processes();
    QMutexLocker lock(&p.mutex);
    p.stopped = true;
    for (const qint64 pid : std::as_const(p.pids))
        ChildProcess::kill(pid);
    p.pids.clear();
}

qint32 MailClient::option(MailOption which, qint32 fallback) const {
    for (const auto& [option, value] : m_setup.options)
        if (option == which && value > 0)
            return value;
    return fallback;
}

qint64 MailClient::loginBound() const {
    return mailLoginBoundMs(option(MailOptionLoginDeadline, kMailLoginDeadlineMs));
}

QString MailClient::failure() const {
    return m_connection ? m_connection->failure : kNotOpen;
}

QString MailClient::garbled() {
    m_connection->drop(kGarbled);
    return kGarbled;
}

std::optional<QByteArray> MailClient::exchange(const QByteArray& request, qint64 boundMs) {
    if (!m_connection || !m_connection->failure.isEmpty())
        return std::nullopt;
    Connection& connection = *m_connection;
    const qint64 left = std::min(boundMs, connection.checkEnd.remainingTime());
    QDeadlineTimer deadline(std::max<qint64>(0, left) + kMarginMs);
    QProcess& process = *connection.process;
    process.write(request);
    TlsServerMemory& memory = *m_setup.tlsMemory;
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
                memory.rememberStls(host, port);
            else
                process.write(frame(StlsAnswer, memory.offeredStls(host, port)));
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
    connection.drop(why);
    return std::nullopt;
}

MailResult<> MailClient::open(const QString& server) {
    close();
    if (stopped())
        return MailResult<>::failed(kNotStarted);
    m_connection = std::make_unique<Connection>();
    Connection& connection = *m_connection;
    connection.checkEnd.setRemainingTime(option(MailOptionCheckDeadline, kMailCheckDeadlineMs));
    connection.process = std::make_unique<QProcess>();
    QProcess& process = *connection.process;
    const QString program = m_setup.program.isEmpty()
                                ? ProgramFolders::module(QStringLiteral(MOKOPON_MAIL_PROCESS))
                                : m_setup.program;
    process.setProgram(program);
    process.setArguments(m_setup.arguments);
    // Its warnings go where the program's go.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the program, however the program ends. The thread that starts it lives as
    // long as the program.
    ChildProcess::tieToProgram(process);
    process.start();
    if (!process.waitForStarted(int(kMarginMs))) {
        connection.drop(kNoStart.arg(program));
        return MailResult<>::failed(connection.failure);
    }
    ChildProcess::started(process);
    {
        Processes& p = processes();
        QMutexLocker lock(&p.mutex);
        connection.pid = process.processId();
        p.pids.insert(connection.pid);
    }
    QList<qint32> options;
    for (const auto& [option, value] : m_setup.options)
        options << option << value;
    const qint64 bound =
        qint64(option(MailOptionConnectDeadline, kMailConnectDeadlineMs)) + kResolverMs;
    const auto reply = exchange(frame(Connect, options, server), bound);
    if (!reply)
        return MailResult<>::failed(failure());
    QDataStream in(*reply);
    QString error;
    const std::optional<qint32> rc = result(in, error);
    if (!rc)
        return MailResult<>::failed(garbled());
    if (*rc < 0) {
        connection.drop(error);
        return MailResult<>::failed(error);
    }
    return std::monostate();
}

MailResult<qint32> MailClient::login(const QString& user, const QString& password, bool apop) {
    const auto reply = exchange(frame(Authenticate, user, password, apop), loginBound());
    if (!reply)
        return MailResult<qint32>::failed(failure());
    QDataStream in(*reply);
    QString error;
    const std::optional<qint32> count = result(in, error);
    if (!count)
        return MailResult<qint32>::failed(garbled());
    if (*count < 0)
        return MailResult<qint32>::failed(error);
    return {*count};
}

MailResult<MailUidListing>
MailClient::loginListingUids(const QString& user, const QString& password, bool apop, qint32 keep) {
    const auto reply = exchange(frame(AuthenticateUidl, user, password, apop, keep), loginBound());
    if (!reply)
        return MailResult<MailUidListing>::failed(failure());
    QDataStream in(*reply);
    QString error;
    const std::optional<qint32> count = result(in, error);
    MailUidListing listing;
    in >> listing.firstNumber;
    if (!count || in.status() != QDataStream::Ok || !readList(in, listing.ids))
        return MailResult<MailUidListing>::failed(garbled());
    if (*count < 0)
        return MailResult<MailUidListing>::failed(error);
    listing.count = *count;
    listing.idsKnown = listing.firstNumber > 0;
    return {std::move(listing)};
}

MailResult<MailMessage> MailClient::fetchKind(quint8 kind, qint32 number) {
    // A message's own bound depends on the size the server gives it; the check deadline holds.
    const auto reply = exchange(frame(Kind(kind), number), std::numeric_limits<qint64>::max());
    if (!reply)
        return MailResult<MailMessage>::failed(failure());
    QDataStream in(*reply);
    QString error;
    const std::optional<qint32> rc = result(in, error);
    MailMessage m;
    in >> m.fields.subject >> m.fields.date >> m.fields.from >> m.fields.header >> m.body;
    if (!rc || in.status() != QDataStream::Ok)
        return MailResult<MailMessage>::failed(garbled());
    if (*rc < 0)
        return MailResult<MailMessage>::failed(error);
    return {std::move(m)};
}

MailResult<MailHeaderFields> MailClient::header(qint32 number) {
    MailResult<MailMessage> got = fetchKind(FetchHeader, number);
    if (!got.ok())
        return MailResult<MailHeaderFields>::failed(got.error);
    return {std::move(got.value->fields)};
}

MailResult<MailMessage> MailClient::fetch(qint32 number) {
    return fetchKind(FetchMail, number);
}

qint32 MailClient::size(qint32 number) {
    const auto reply = exchange(frame(MailSize, number), 0);
    if (!reply)
        return 0;
    QDataStream in(*reply);
    QString error;
    const std::optional<qint32> size = result(in, error);
    if (!size) {
        garbled();
        return 0;
    }
    return std::max(0, *size);
}

void MailClient::close() {
    if (!m_connection)
        return;
    Connection& connection = *m_connection;
    if (connection.process && exchange(frame(Close), kCloseMs))
        connection.process->waitForFinished(int(kMarginMs));
    if (connection.process) {
        forget(connection.pid);
        connection.process.reset(); // ends it if it did not end itself
    }
    m_connection.reset();
}
