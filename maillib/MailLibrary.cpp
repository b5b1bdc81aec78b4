#include "MailLibrary.h"

#include "Pop3Session.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <algorithm>
#include <limits>
#include <memory>

namespace {

// The memory of servers that offered STLS when the program gives none: it lasts the process.
class ProcessTlsMemory final : public TlsServerMemory {
  public:
    bool offeredStls(const QString& host, quint16 port) override {
        QMutexLocker lock(&m_mutex);
        return m_servers.contains({host, port});
    }
    void rememberStls(const QString& host, quint16 port) override {
        QMutexLocker lock(&m_mutex);
        m_servers.insert({host, port});
    }
    void clear() {
        QMutexLocker lock(&m_mutex);
        m_servers.clear();
    }

  private:
    QMutex m_mutex;
    QSet<std::pair<QString, quint16>> m_servers;
};

struct Library {
    Library() { settings.tlsMemory = &ownTlsMemory; }

    ProcessTlsMemory ownTlsMemory;
    bool started = false;
    Pop3Session::Settings settings;
    QHash<qint32, std::shared_ptr<Pop3Session>> sessions;
    qint32 nextHandle = 0;
    QString lastError;
};

Library& library() {
    static Library lib;
    return lib;
}

std::shared_ptr<Pop3Session> session(qint32 handle) {
    Library& lib = library();
    const auto found = lib.sessions.constFind(handle);
    if (found == lib.sessions.cend()) {
        lib.lastError = QStringLiteral("メールの接続番号 %1 は開かれていません。").arg(handle);
        return nullptr;
    }
    return *found;
}

} // namespace

qint32 startMailLibrary() {
    library().started = true;
    return 0;
}

qint32 setMailOption(qint32 option, qint32 value) {
    Pop3Session::Settings& s = library().settings;
    switch (option) {
    case MailOptionReceiveBuffer:
        if (value < 512 || value > 16 * 1024 * 1024)
            return -1;
        s.receiveBufferSize = value;
        return 0;
    case MailOptionConnectTimeout:
    case MailOptionCommandTimeout:
    case MailOptionStallTimeout:
        if (value < 1)
            return -1;
        (option == MailOptionConnectTimeout   ? s.connectTimeoutMs
         : option == MailOptionCommandTimeout ? s.commandTimeoutMs
                                              : s.stallTimeoutMs) = value;
        return 0;
    case MailOptionPipelineWindow:
        if (value < 1 || value > 1000)
            return -1;
        s.window = value;
        return 0;
    case MailOptionConnectDeadline:
    case MailOptionLoginDeadline:
    case MailOptionMessageDeadline:
        if (value < 1)
            return -1;
        (option == MailOptionConnectDeadline ? s.connectDeadlineMs
         : option == MailOptionLoginDeadline ? s.loginDeadlineMs
                                             : s.messageDeadlineMs) = value;
        return 0;
    case MailOptionMinTransferRate:
        if (value < 1 || value > 1024 * 1024 * 1024)
            return -1;
        s.minTransferRate = value;
        return 0;
    case MailOptionCheckDeadline:
        if (value < 1)
            return -1;
        s.checkDeadlineMs = value;
        return 0;
    case MailOptionPipelineBytes:
        if (value < 1 || value > 1024 * 1024 * 1024)
            return -1;
        s.windowBytes = value;
        return 0;
    default:
        return -1;
    }
}

void setMailTlsServerMemory(TlsServerMemory* memory) {
    Library& lib = library();
    if (!memory) {
        lib.ownTlsMemory.clear();
        memory = &lib.ownTlsMemory;
    }
    lib.settings.tlsMemory = memory;
}

qint32 stopMailLibrary() {
    Library& lib = library();
    // Take the table first: closing may wait on the network.
    const auto sessions = std::exchange(lib.sessions, {});
    for (const auto& s : sessions)
        s->close();
    lib.started = false;
    return 0;
}

qint32 pop3Connect(const QString& server) {
    Library& lib = library();
    if (!lib.started) {
        lib.lastError = QStringLiteral("メールライブラリが開始されていません。");
        return -1;
    }
    auto s = std::make_shared<Pop3Session>(lib.settings);
    if (!s->open(server)) {
        lib.lastError = s->error();
        return -1;
    }
    const qint32 handle = lib.nextHandle;
    lib.nextHandle = lib.nextHandle == std::numeric_limits<qint32>::max() ? 0 : lib.nextHandle + 1;
    lib.sessions.insert(handle, std::move(s));
    return handle;
}

qint32 pop3Authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop) {
    const auto s = session(handle);
    if (!s)
        return -1;
    const qint32 count = s->login(id, pass, apop != 0);
    if (count < 0)
        library().lastError = s->error();
    return count;
}

qint32 pop3AuthenticateUidl(qint32 handle, const QString& id, const QString& pass, qint32 apop,
                            qint32 keep, QStringList& uids, qint32& firstNumber) {
    uids.clear();
    firstNumber = 0;
    const auto s = session(handle);
    if (!s)
        return -1;
    Pop3Session::UidListing listing;
    if (!s->loginListingUids(id, pass, apop != 0, keep, listing)) {
        library().lastError = s->error();
        return -1;
    }
    if (listing.uidsKnown) {
        firstNumber = listing.firstNumber;
        uids.reserve(listing.uids.size());
        for (const QByteArray& uid : std::as_const(listing.uids))
            uids.append(QString::fromLatin1(uid));
    }
    return listing.count;
}

namespace {

void copyFields(const Pop3Session::Fields& fields, QString& subject, QString& date, QString& from,
                QString& header) {
    subject = fields.subject;
    date = fields.date;
    from = fields.from;
    header = fields.header;
}

} // namespace

qint32 pop3FetchHeader(qint32 handle, qint32 number, QString& subject, QString& date, QString& from,
                       QString& header, qint32 /*flag*/) {
    const auto s = session(handle);
    if (!s)
        return -1;
    Pop3Session::Fields fields;
    if (!s->status(number, fields)) {
        library().lastError = s->error();
        return -1;
    }
    copyFields(fields, subject, date, from, header);
    return 0;
}

qint32 pop3MailSize(qint32 handle, qint32 number) {
    const auto s = session(handle);
    if (!s)
        return 0;
    return qint32(std::clamp<qint64>(s->size(number), 0, std::numeric_limits<qint32>::max()));
}

qint32 pop3FetchMail(qint32 handle, qint32 number, QString& subject, QString& date, QString& from,
                     QString& header, QString& body, qint32 /*path*/, qint32 /*flag*/) {
    const auto s = session(handle);
    if (!s)
        return -1;
    Pop3Session::Fields fields;
    QString prefix;
    if (!s->fetch(number, fields, prefix)) {
        library().lastError = s->error();
        return -1;
    }
    copyFields(fields, subject, date, from, header);
    body = prefix;
    return 0;
}

qint32 pop3Close(qint32 handle) {
    const auto s = session(handle);
    if (!s)
        return -1;
    library().sessions.remove(handle);
    s->close();
    return 0;
}

qint32 copyLastMailError(qint32 /*code*/, QString& buffer, qint32& length) {
    if (length < 1)
        return -1;
    const QString text = library().lastError.left(length - 1);
    buffer = text + QChar(u'\0');
    return qint32(text.size());
}
