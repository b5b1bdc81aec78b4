#include "Pop3Session.h"

#include "Pop3Address.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <algorithm>
#include <limits>

using Step = Pop3ReplyParser::Step;

namespace {

constexpr int kMaxCapabilityLines = 1000;
// QUIT and the close after it; nothing of the session depends on them.
constexpr int kQuitMs = 2000;
constexpr qint64 kNsPerMs = 1000000;
// At least one whole TLS record, so that decrypting never waits for room.
constexpr qint64 kMinSocketBuffer = 64 * 1024;

QString seconds(qint64 ms) {
    return QString::number((ms + 999) / 1000);
}

// OpenSSL's default verify paths honour SSL_CERT_FILE and SSL_CERT_DIR, but Qt reads the system
// folders itself; so when either is set, its certificates join the system ones here.
void applyTrustStore(QSslSocket& socket) {
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    const QString dir = qEnvironmentVariable("SSL_CERT_DIR");
    if (file.isEmpty() && dir.isEmpty())
        return;
    static QString cachedFor;
    static QList<QSslCertificate> cached;
    const QString key = file + QChar(u'\n') + dir;
    if (cachedFor != key || cached.isEmpty()) {
        cached = QSslConfiguration::systemCaCertificates();
        if (!file.isEmpty())
            cached += QSslCertificate::fromPath(file, QSsl::Pem);
        for (const QString& d : dir.split(u':', Qt::SkipEmptyParts)) {
            cached += QSslCertificate::fromPath(QDir(d).filePath(QStringLiteral("*")), QSsl::Pem,
                                                QSslCertificate::PatternSyntax::Wildcard);
        }
        cachedFor = key;
    }
    QSslConfiguration config = socket.sslConfiguration();
    config.setCaCertificates(cached);
    socket.setSslConfiguration(config);
}

// Why a TLS handshake failed, in words for the user, OpenSSL's own at the end; a null string when
// a server reached for TLS from the first byte answered in plain text.
QString handshakeReason(const QString& raw, QAbstractSocket::SocketError error, bool implicit) {
    const QString why = raw.toLower();
    const auto has = [&why](const char* text) { return why.contains(QLatin1String(text)); };
    const QString bracketed = QStringLiteral("(%1)").arg(raw);
    // OpenSSL's words for bytes that are no TLS record: the server talks plain POP3.
    if (has("wrong version number") || has("unknown protocol") || has("packet length too long") ||
        has("record layer failure")) {
        if (implicit)
            return QString(); // the caller's own text
        return QStringLiteral("STLSを受け付けた後も、サーバーが暗号化せずに応答しました。") +
               bracketed;
    }
    if (has("unsupported protocol") || has("protocol version"))
        return QStringLiteral("サーバーが対応しているTLSの版(バージョン)が古すぎるか、"
                              "この版と合いません。") +
               bracketed;
    if (has("no shared cipher") || has("no cipher") || has("handshake failure") ||
        has("insufficient security"))
        return QStringLiteral("サーバーと共通に使える暗号方式がありません。") + bracketed;
    if (has("too small") || has("too weak"))
        return QStringLiteral("サーバーの鍵または証明書の署名が弱すぎます。") + bracketed;
    if (has("unrecognized name"))
        return QStringLiteral("サーバーがこのサーバー名を知らないと答えました。"
                              "サーバー名を確かめてください。") +
               bracketed;
    if (has("unexpected eof") || error == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("暗号化の手順の途中でサーバーが接続を切りました。") + bracketed;
    return QStringLiteral("暗号化の手順(TLSハンドシェイク)に失敗しました。") + bracketed;
}

} // namespace

bool Pop3Session::applyOption(Settings& s, qint32 option, qint32 value) {
    switch (option) {
    case MailOptionReceiveBuffer:
        if (value < 512 || value > 16 * 1024 * 1024)
            return false;
        s.receiveBufferSize = value;
        return true;
    case MailOptionConnectTimeout:
    case MailOptionCommandTimeout:
    case MailOptionStallTimeout:
        if (value < 1)
            return false;
        (option == MailOptionConnectTimeout   ? s.connectTimeoutMs
         : option == MailOptionCommandTimeout ? s.commandTimeoutMs
                                              : s.stallTimeoutMs) = value;
        return true;
    case MailOptionPipelineWindow:
        if (value < 1 || value > 1000)
            return false;
        s.window = value;
        return true;
    case MailOptionConnectDeadline:
    case MailOptionLoginDeadline:
    case MailOptionMessageDeadline:
        if (value < 1)
            return false;
        (option == MailOptionConnectDeadline ? s.connectDeadlineMs
         : option == MailOptionLoginDeadline ? s.loginDeadlineMs
                                             : s.messageDeadlineMs) = value;
        return true;
    case MailOptionMinTransferRate:
        if (value < 1 || value > 1024 * 1024 * 1024)
            return false;
        s.minTransferRate = value;
        return true;
    case MailOptionCheckDeadline:
        if (value < 1)
            return false;
        s.checkDeadlineMs = value;
        return true;
    case MailOptionPipelineBytes:
        if (value < 1 || value > 1024 * 1024 * 1024)
            return false;
        s.windowBytes = value;
        return true;
    default:
        return false;
    }
}

Pop3Session::Pop3Session(const Settings& settings) : m_settings(settings) {
    m_chunk.resize(qBound(512, m_settings.receiveBufferSize, 16 * 1024 * 1024));
    m_settings.window = qMax(1, m_settings.window);
    m_settings.minTransferRate = qMax(1, m_settings.minTransferRate);
}

Pop3Session::~Pop3Session() {
    m_socket.abort();
}

bool Pop3Session::fail(const QString& text) {
    m_error = text;
    return false;
}

QString Pop3Session::serverText(QByteArrayView text) const {
    QString s = QString::fromUtf8(text.first(qMin<qsizetype>(text.size(), 512)));
    for (QChar& c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return s.trimmed();
}

void Pop3Session::startPhase(Phase phase, qint64 allowedNs, qint32 message) {
    m_phase = phase;
    m_allowedNs = allowedNs;
    m_phaseMessage = message;
    m_deadline.setPreciseRemainingTime(0, allowedNs);
    // Only a listing earns more time, and never more than this: a server can send entries as
    // fast as any allowance for them, so the cap is what ends one that lists without end.
    m_earnableNs =
        phase == Phase::Login
            ? (mailLoginBoundMs(m_settings.loginDeadlineMs) - m_settings.loginDeadlineMs) * kNsPerMs
            : 0;
}

int Pop3Session::waitMs(int limit) const {
    const QDeadlineTimer earliest = qMin(m_deadline, m_checkDeadline);
    if (earliest.isForever())
        return limit;
    return int(std::clamp<qint64>(earliest.remainingTime(), 1, qMax(1, limit)));
}

qint64 Pop3Session::messageAllowanceNs(qint32 number) const {
    return m_settings.messageDeadlineMs * kNsPerMs +
           qint64(size(number)) * 1000 * kNsPerMs / m_settings.minTransferRate;
}

bool Pop3Session::failDeadline() {
    m_broken = true;
    m_socket.abort();
    const QString limit = seconds((m_allowedNs + kNsPerMs - 1) / kNsPerMs);
    switch (m_phase) {
    case Phase::Connect:
        return fail(QStringLiteral("POP3サーバー「%1」への接続が%2秒以内に終わりませんでした。")
                        .arg(m_server, limit));
    case Phase::Login:
        return fail(
            QStringLiteral(
                "POP3サーバー「%1」へのログインとメール一覧の受信が%2秒以内に終わりませんでした。")
                .arg(m_server, limit));
    case Phase::Message:
        return fail(QStringLiteral(
                        "POP3サーバー「%1」からのメール %2 の受信が%3秒以内に終わりませんでした。")
                        .arg(m_server, QString::number(m_phaseMessage), limit));
    case Phase::Quit:
        break;
    }
    return fail(QStringLiteral("POP3サーバー「%1」から応答がなくなりました。").arg(m_server));
}

bool Pop3Session::failCheckDeadline() {
    m_broken = true;
    m_socket.abort();
    return fail(QStringLiteral("POP3サーバー「%1」でのメールの確認が%2秒以内に終わりませんでした。")
                    .arg(m_server, seconds(m_settings.checkDeadlineMs)));
}

bool Pop3Session::failConnect() {
    if (m_deadline.hasExpired())
        return failDeadline();
    switch (m_socket.error()) {
    case QAbstractSocket::HostNotFoundError:
        return fail(
            QStringLiteral("POP3サーバー「%1」に接続できませんでした。名前解決に失敗しました。")
                .arg(m_server));
    case QAbstractSocket::ConnectionRefusedError:
        return fail(
            QStringLiteral("POP3サーバー「%1」に接続できませんでした。接続を拒否されました。")
                .arg(m_server));
    case QAbstractSocket::SocketTimeoutError:
        return fail(
            QStringLiteral(
                "POP3サーバー「%1」に接続できませんでした。%2秒以内に応答がありませんでした。")
                .arg(m_server, seconds(m_settings.connectTimeoutMs)));
    case QAbstractSocket::NetworkError:
        return fail(QStringLiteral(
                        "POP3サーバー「%1」に接続できませんでした。ネットワークに到達できません。")
                        .arg(m_server));
    default:
        return fail(QStringLiteral("POP3サーバー「%1」に接続できませんでした。(%2)")
                        .arg(m_server, m_socket.errorString()));
    }
}

bool Pop3Session::failTls(bool implicit) {
    if (m_deadline.hasExpired())
        return failDeadline();
    const QList<QSslError> errors = m_socket.sslHandshakeErrors();
    const QAbstractSocket::SocketError socketError = m_socket.error();
    const QString socketErrorText = m_socket.errorString();
    m_socket.abort();
    m_broken = true;
    QString reason;
    for (const QSslError& e : errors) {
        switch (e.error()) {
        case QSslError::HostNameMismatch:
            reason = QStringLiteral("証明書のホスト名がサーバー名と一致しません。");
            break;
        case QSslError::CertificateExpired:
            reason = QStringLiteral("証明書の有効期限が切れています。");
            break;
        case QSslError::CertificateNotYetValid:
            reason = QStringLiteral("証明書はまだ有効になっていません。");
            break;
        case QSslError::CertificateRevoked:
            reason = QStringLiteral("証明書は失効しています。");
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
        case QSslError::CertificateRejected:
            reason = QStringLiteral("証明書が信頼できる認証局のものではありません。");
            break;
        default:
            if (reason.isEmpty())
                reason = QStringLiteral("証明書を検証できませんでした。(%1)").arg(e.errorString());
            continue;
        }
        break; // the first error that has a clear reason is the one to show
    }
    if (reason.isEmpty()) {
        if (socketError == QAbstractSocket::SocketTimeoutError) {
            reason = QStringLiteral("%1秒以内に応答がありませんでした。")
                         .arg(seconds(m_settings.connectTimeoutMs));
        } else {
            reason = handshakeReason(socketErrorText, socketError, implicit);
            if (reason.isNull())
                return fail(
                    QStringLiteral("POP3サーバー「%1」のポート%2は暗号化せずに応答しました。"
                                   "このポートは最初から暗号化して接続するポートではないようです。"
                                   "「pop3s://」を付けずに、通常のPOP3のポート(110など)を"
                                   "指定してください。サーバーが対応していれば、暗号化は"
                                   "STLSで行われます。")
                        .arg(m_server, QString::number(m_port)));
        }
    }
    return fail(QStringLiteral("POP3サーバー「%1」と暗号化通信を始められませんでした。%2")
                    .arg(m_server, reason));
}

bool Pop3Session::fill(QDeadlineTimer wait) {
    if (m_broken)
        return false;
    // Checked before the bytes at hand too: a server that sends without end always has some.
    if (m_checkDeadline.hasExpired())
        return failCheckDeadline();
    if (m_deadline.hasExpired())
        return failDeadline();
    if (m_socket.bytesAvailable() <= 0) {
        const auto lost = [this] {
            m_broken = true;
            m_socket.abort();
            return fail(
                QStringLiteral("POP3サーバー「%1」との接続が途中で切れました。").arg(m_server));
        };
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return lost();
        const bool wholeCheck = m_checkDeadline < m_deadline && m_checkDeadline < wait;
        const bool whole = !wholeCheck && m_deadline < wait;
        const QDeadlineTimer deadline = wholeCheck ? m_checkDeadline : whole ? m_deadline : wait;
        if (deadline.hasExpired() ||
            (!m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))) &&
             m_socket.bytesAvailable() <= 0)) {
            if (m_socket.state() == QAbstractSocket::ConnectedState &&
                (deadline.hasExpired() ||
                 m_socket.error() == QAbstractSocket::SocketTimeoutError)) {
                if (wholeCheck)
                    return failCheckDeadline();
                if (whole)
                    return failDeadline();
                m_broken = true;
                m_socket.abort();
                // Silence from the first byte on is also what a port that waits for TLS sends.
                if (m_plainGreeting && m_parser.buffered() == 0)
                    return fail(QStringLiteral("POP3サーバー「%1」のポート%2から、%3秒待っても"
                                               "最初の応答がありませんでした。このポートは最初から"
                                               "暗号化して接続する必要があるのかもしれません。"
                                               "その場合は、サーバーの指定の先頭に「pop3s://」を"
                                               "付けてください。")
                                    .arg(m_server, QString::number(m_port),
                                         seconds(m_settings.commandTimeoutMs)));
                return fail(
                    QStringLiteral("POP3サーバー「%1」から応答がなくなりました。").arg(m_server));
            }
            return lost();
        }
    }
    const qint64 n = m_socket.read(m_chunk.data(), m_chunk.size());
    if (n < 0) {
        m_broken = true;
        m_socket.abort();
        return fail(QStringLiteral("POP3サーバー「%1」との接続が途中で切れました。").arg(m_server));
    }
    m_parser.feed(QByteArrayView(m_chunk.constData(), n));
    return true;
}

bool Pop3Session::send(const QByteArray& lines) {
    if (m_broken)
        return false;
    if (m_socket.write(lines) != lines.size() || !m_socket.flush()) {
        if (m_socket.bytesToWrite() == 0 || m_socket.state() != QAbstractSocket::ConnectedState) {
            m_broken = true;
            m_socket.abort();
            return fail(
                QStringLiteral("POP3サーバー「%1」との接続が途中で切れました。").arg(m_server));
        }
    }
    return true;
}

bool Pop3Session::readStatus(Step& step) {
    const QDeadlineTimer deadline(m_settings.commandTimeoutMs);
    for (;;) {
        if (m_plainGreeting && Pop3ReplyParser::startsLikeTls(m_parser.unread())) {
            m_broken = true;
            m_socket.abort();
            return fail(
                QStringLiteral("POP3サーバー「%1」のポート%2は暗号化通信(TLS)で応答しました。"
                               "このポートは最初から暗号化して接続する必要があるようです。"
                               "サーバーの指定の先頭に「pop3s://」を付けてください。")
                    .arg(m_server, QString::number(m_port)));
        }
        step = m_parser.readStatus();
        if (step == Step::Ok || step == Step::Err)
            return true;
        if (step == Step::Bad) {
            m_broken = true;
            m_socket.abort();
            return fail(
                QStringLiteral("POP3サーバー「%1」から正しくない応答が届きました。").arg(m_server));
        }
        if (!fill(deadline))
            return false;
    }
}

Step Pop3Session::readData() {
    for (;;) {
        const Step step = m_parser.readData();
        if (step != Step::NeedMore)
            return step;
        if (!fill(QDeadlineTimer(m_settings.stallTimeoutMs)))
            return Step::Bad;
    }
}

bool Pop3Session::skipData() {
    for (;;) {
        const Step step = readData();
        if (step == Step::End)
            return true;
        if (step == Step::Bad)
            return false;
    }
}

bool Pop3Session::open(const QString& server) {
    m_server = server.trimmed();
    const auto address = Pop3Address::parse(server);
    if (!address)
        return fail(QStringLiteral("POP3サーバーの指定「%1」が正しくありません。").arg(m_server));
    m_server = address->host;
    m_port = address->port;

    m_checkDeadline.setRemainingTime(m_settings.checkDeadlineMs);
    startPhase(Phase::Connect, m_settings.connectDeadlineMs * kNsPerMs);
    const QDeadlineTimer deadline(m_settings.connectTimeoutMs);
    m_socket.setPeerVerifyName(address->host);
    // Qt would otherwise take in all the kernel holds, and replies sent ahead can be megabytes.
    m_socket.setReadBufferSize(qMax<qint64>(m_chunk.size(), kMinSocketBuffer));
    applyTrustStore(m_socket);
    if (address->implicitTls)
        m_socket.connectToHostEncrypted(address->host, address->port);
    else
        m_socket.connectToHost(address->host, address->port);
    if (!m_socket.waitForConnected(waitMs(int(qMax<qint64>(1, deadline.remainingTime())))))
        return failConnect();
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (address->implicitTls &&
        !m_socket.waitForEncrypted(waitMs(int(qMax<qint64>(1, deadline.remainingTime())))))
        return failTls(true);

    Step step;
    m_plainGreeting = !address->implicitTls;
    const bool greeted = readStatus(step);
    m_plainGreeting = false;
    if (!greeted)
        return false;
    if (step != Step::Ok)
        return fail(QStringLiteral("POP3サーバー「%1」が接続を断りました。サーバーの応答: %2")
                        .arg(m_server, serverText(m_parser.text())));
    m_timestamp = Pop3ReplyParser::greetingTimestamp(m_parser.text());

    if (address->implicitTls)
        return readCapabilities();
    // STLS goes first, unasked: a server that takes it saves the round trip of a CAPA before
    // it, and one that refuses it is then asked whether it offers it at all. Either way it is
    // remembered on the offer, before the handshake: one that fails now must not open the way
    // to a clear-text login later.
    TlsServerMemory* memory = m_settings.tlsMemory;
    const QString host = address->host.toLower();
    if (!send("STLS\r\n") || !readStatus(step))
        return false;
    if (step == Step::Ok) {
        if (memory)
            memory->rememberStls(host, address->port);
        return startTls() && readCapabilities();
    }
    const QString refusal = serverText(m_parser.text());
    if (!readCapabilities())
        return false;
    if (m_caps.stls) {
        if (memory)
            memory->rememberStls(host, address->port);
        m_broken = true;
        m_socket.abort();
        return fail(QStringLiteral(
                        "POP3サーバー「%1」と暗号化通信を始められませんでした。サーバーの応答: %2")
                        .arg(m_server, refusal));
    }
    m_stlsStripped = memory && memory->offeredStls(host, address->port);
    return true;
}

bool Pop3Session::readLines(const std::function<void(QByteArrayView)>& take) {
    bool inLongLine = false;
    for (;;) {
        const Step step = readData();
        if (step == Step::Bad)
            return false;
        if (step == Step::End)
            return true;
        const bool tail = inLongLine;
        inLongLine = step == Step::Piece;
        if (step == Step::Line && !tail)
            take(m_parser.text());
    }
}

void Pop3Session::earn(qint64 ns) {
    ns = qBound<qint64>(0, ns, m_earnableNs);
    m_earnableNs -= ns;
    m_deadline = QDeadlineTimer::addNSecs(m_deadline, ns);
    m_allowedNs += ns;
}

bool Pop3Session::readCapabilities() {
    m_caps = {};
    if (!send("CAPA\r\n"))
        return false;
    Step step;
    if (!readStatus(step))
        return false;
    if (step != Step::Ok)
        return true; // a server from before CAPA: no STLS, no pipelining
    int lines = 0;
    for (;;) {
        step = readData();
        if (step == Step::Bad)
            return false;
        if (step == Step::End)
            return true;
        if (step == Step::Line && ++lines <= kMaxCapabilityLines)
            Pop3ReplyParser::addCapability(m_caps, m_parser.text());
    }
}

bool Pop3Session::startTls() {
    // Anything after the +OK came before the handshake, so nobody vouches for it.
    if (m_parser.buffered() > 0 || m_socket.bytesAvailable() > 0) {
        m_broken = true;
        m_socket.abort();
        return fail(
            QStringLiteral("POP3サーバー「%1」から正しくない応答が届きました。").arg(m_server));
    }
    m_socket.startClientEncryption();
    if (!m_socket.waitForEncrypted(waitMs(m_settings.connectTimeoutMs)))
        return failTls(false);
    return true;
}

bool Pop3Session::authenticate(const QString& user, const QString& password, bool apop) {
    if (m_broken)
        return false;
    if (m_loggedIn)
        return fail(
            QStringLiteral("POP3サーバー「%1」にはすでにログインしています。").arg(m_server));
    if (m_stlsStripped) {
        m_broken = true;
        m_socket.abort();
        return fail(
            QStringLiteral("POP3サーバー「%1」は以前は暗号化通信(STLS)に対応していましたが、"
                           "今回は対応していません。通信が改ざんされているおそれがあるため、"
                           "パスワードを暗号化せずに送ることはせず、ログインを中止しました。")
                .arg(m_server));
    }
    // A line break would let the account inject commands of its own.
    const auto unsafe = [](const QString& s) {
        return s.contains(u'\r') || s.contains(u'\n') || s.contains(QChar(u'\0'));
    };
    if (unsafe(user) || unsafe(password) || user.contains(u' ') || user.isEmpty())
        return fail(QStringLiteral("ユーザーIDまたはパスワードに使えない文字が含まれています。"));
    startPhase(Phase::Login, m_settings.loginDeadlineMs * kNsPerMs);
    const QByteArray id = user.toUtf8();
    Step step;
    if (apop) {
        if (!m_timestamp)
            return fail(QStringLiteral("POP3サーバー「%1」はAPOPに対応していません。"
                                       "(サーバーの挨拶にタイムスタンプがありません)")
                            .arg(m_server));
        const QByteArray digest =
            QCryptographicHash::hash(*m_timestamp + password.toUtf8(), QCryptographicHash::Md5)
                .toHex();
        if (!send("APOP " + id + ' ' + digest + "\r\n") || !readStatus(step))
            return false;
    } else {
        // Never pipelined: a password goes out only after the server took the user.
        if (!send("USER " + id + "\r\n") || !readStatus(step))
            return false;
        if (step == Step::Ok && (!send("PASS " + password.toUtf8() + "\r\n") || !readStatus(step)))
            return false;
    }
    if (step != Step::Ok) {
        m_broken = true;
        return fail(
            QStringLiteral("POP3サーバー「%1」にログインできませんでした。サーバーの応答: %2")
                .arg(m_server, serverText(m_parser.text())));
    }
    m_loggedIn = true;
    return true;
}

std::optional<qint64> Pop3Session::stat(const QByteArray& listing) {
    // Nothing rides behind PASS or APOP: a server may hand the session to a new process once
    // the login is taken, and what it had read past the password is lost. STAT and the listing
    // change nothing, so when the server pipelines they go out together.
    if (!send(pipelining() ? "STAT\r\n" + listing : QByteArray("STAT\r\n")))
        return std::nullopt;
    Step step;
    if (!readStatus(step))
        return std::nullopt;
    const auto stat = Pop3ReplyParser::parseStat(m_parser.text());
    if (step != Step::Ok || !stat) {
        fail(QStringLiteral(
                 "POP3サーバー「%1」からメールの数を受け取れませんでした。サーバーの応答: %2")
                 .arg(m_server, serverText(m_parser.text())));
        m_broken = true;
        return std::nullopt;
    }
    if (!pipelining() && !send(listing))
        return std::nullopt;
    return stat->number;
}

qint32 Pop3Session::login(const QString& user, const QString& password, bool apop) {
    if (!authenticate(user, password, apop))
        return -1;
    const auto count = stat("LIST\r\n");
    if (!count || !readList(*count))
        return -1;
    return m_count;
}

bool Pop3Session::loginListingUids(const QString& user, const QString& password, bool apop,
                                   qint32 keep, UidListing& listing) {
    listing = {};
    if (!authenticate(user, password, apop))
        return false;
    const auto count = stat("UIDL\r\n");
    return count && readUidList(*count, qMax(0, keep), listing);
}

bool Pop3Session::readUidList(qint64 statCount, qint32 keep, UidListing& listing) {
    Step step;
    if (!readStatus(step))
        return false;
    listing.count = qint32(qBound<qint64>(0, statCount, qint64(kMaxMessages)));
    if (step != Step::Ok)
        return true; // a server without UIDL
    // Each entry taken earns the time its longest line takes at the lowest rate accepted, as
    // LIST's do; only the last keep ids are held, whatever the server sends.
    const qint64 entryNs = kUidlEntryBytes * 1000 * kNsPerMs / m_settings.minTransferRate;
    std::deque<QByteArray> last;
    qint32 listed = 0;
    bool inOrder = true;
    const bool read = readLines([&](QByteArrayView line) {
        if (!inOrder || listed >= listing.count)
            return;
        const auto entry = Pop3ReplyParser::parseUidlLine(line);
        if (!entry || entry->number != listed + 1) {
            inOrder = false; // the ids after a gap cannot be matched to messages
            return;
        }
        ++listed;
        last.push_back(entry->uid.toByteArray());
        if (qsizetype(last.size()) > keep)
            last.pop_front();
        earn(entryNs);
    });
    if (!read)
        return false;
    if (listed != listing.count)
        return true; // not every message has an id: as good as none
    listing.uidsKnown = true;
    listing.firstNumber = listed - qint32(last.size()) + 1;
    listing.uids.reserve(qsizetype(last.size()));
    for (QByteArray& uid : last)
        listing.uids.append(std::move(uid));
    return true;
}

bool Pop3Session::readList(qint64 statCount) {
    Step step;
    if (!readStatus(step))
        return false;
    m_sizes.clear();
    m_count = 0;
    if (step != Step::Ok) {
        if (statCount == 0)
            return true;
        // The count and every message's deadline come from LIST; STAT alone may claim anything.
        m_broken = true;
        return fail(QStringLiteral("POP3サーバー「%1」がメールの一覧(LIST)を返さないため、"
                                   "メールの数を確かめられませんでした。サーバーの応答: %2")
                        .arg(m_server, serverText(m_parser.text())));
    }
    // Each message listed earns the time its line takes at the lowest rate accepted.
    const qint64 entryNs = kListEntryBytes * 1000 * kNsPerMs / m_settings.minTransferRate;
    const qint64 limit = qMin<qint64>(statCount, kMaxMessages);
    qint64 listed = 0;
    std::optional<QString> wrongLine; // the first line that is no entry in order
    const bool read = readLines([&](QByteArrayView line) {
        if (wrongLine)
            return;
        // Messages count from 1 in order, each with its size.
        const auto entry = Pop3ReplyParser::parseListLine(line);
        if (!entry || entry->number != listed + 1) {
            wrongLine = serverText(line);
            return;
        }
        ++listed;
        if (m_sizes.size() < limit) {
            m_sizes.append(quint32(qMin<qint64>(entry->size, std::numeric_limits<quint32>::max())));
            earn(entryNs);
        }
    });
    if (!read)
        return false;
    // A listing that makes no sense gives neither a count nor sizes to trust.
    if (wrongLine || listed != statCount) {
        m_sizes.clear();
        m_broken = true;
        if (wrongLine)
            return fail(QStringLiteral("POP3サーバー「%1」から届いたメールの一覧(LIST)に"
                                       "正しくない行がありました。サーバーの応答: %2")
                            .arg(m_server, *wrongLine));
        return fail(QStringLiteral("POP3サーバー「%1」のメールの一覧(LIST)には%2通のメールが"
                                   "ありますが、メールの数(STAT)は%3通でした。")
                        .arg(m_server, QString::number(listed), QString::number(statCount)));
    }
    m_count = qint32(m_sizes.size());
    m_refused.fill(false, m_count);
    return true;
}

qint64 Pop3Session::size(qint32 number) const {
    return number >= 1 && number <= m_sizes.size() ? m_sizes.at(number - 1) : 0;
}

void Pop3Session::topUp() {
    if (m_broken)
        return;
    const qsizetype maxCount = pipelining() ? m_settings.window : 1;
    const qint64 maxBytes = pipelining() ? m_settings.windowBytes : 0;
    qsizetype queued = qsizetype(m_inFlight.size());
    // Refill once a quarter of the window is free, by count and by bytes: fuller packets than one
    // RETR at a time, while the three quarters still coming cover the round trip.
    if (queued > 0 && (maxCount - queued < qMax<qsizetype>(1, maxCount / 4) ||
                       maxBytes - m_bytesInFlight < maxBytes / 4))
        return;
    QByteArray commands;
    while (m_nextAhead <= m_count && queued < maxCount &&
           (queued == 0 || m_bytesInFlight + size(m_nextAhead) <= maxBytes)) {
        commands += "RETR " + QByteArray::number(m_nextAhead) + "\r\n";
        m_inFlight.push_back(m_nextAhead);
        m_bytesInFlight += size(m_nextAhead);
        ++m_nextAhead;
        ++queued;
    }
    if (!commands.isEmpty())
        send(commands);
}

QString Pop3Session::refusalText(qint32 number) const {
    return QStringLiteral("メール %1 を受信できませんでした。サーバーの応答: %2")
        .arg(QString::number(number),
             number == m_lastRefused ? m_lastRefusal : QStringLiteral("(受信を断られました)"));
}

void Pop3Session::popFront() {
    m_bytesInFlight -= size(m_inFlight.front());
    m_inFlight.pop_front();
    m_frontStage = Stage::StatusUnread;
    m_frontEnded = false;
}

bool Pop3Session::finishFront() {
    // Reads what is left of the front reply and drops it.
    bool ok = true;
    if (m_frontStage == Stage::StatusUnread) {
        startPhase(Phase::Message, messageAllowanceNs(m_inFlight.front()), m_inFlight.front());
        Step step;
        ok = readStatus(step) && (step != Step::Ok || skipData());
    } else if (!m_frontEnded) {
        ok = skipData();
    }
    popFront();
    return ok;
}

bool Pop3Session::position(qint32 number) {
    if (m_broken)
        return false;
    if (!m_loggedIn)
        return fail(QStringLiteral("POP3サーバー「%1」にログインしていません。").arg(m_server));
    if (number < 1 || number > m_count)
        return fail(QStringLiteral("メール番号 %1 はありません。").arg(number));
    // The server said no once; asking again would only fetch the same answer.
    if (m_refused.testBit(number - 1))
        return fail(refusalText(number));
    // A reply read partly by an earlier call goes on with what that call left of its time.
    if (!m_inFlight.empty() && m_frontStage != Stage::StatusUnread) {
        startPhase(Phase::Message, messageAllowanceNs(m_inFlight.front()), m_inFlight.front());
        m_deadline.setPreciseRemainingTime(0, m_frontLeftNs);
    }
    const bool ahead = std::find(m_inFlight.begin(), m_inFlight.end(), number) != m_inFlight.end();
    // Replies come in the order the commands went out: what comes before this one is dropped,
    // and a message asked for again, or out of order, is fetched anew.
    while (!m_inFlight.empty() && (!ahead || m_inFlight.front() != number)) {
        if (!finishFront())
            return false;
    }
    if (m_inFlight.empty()) {
        m_nextAhead = number;
        topUp();
        if (m_broken)
            return false;
    }
    if (m_frontStage == Stage::StatusUnread) {
        startPhase(Phase::Message, messageAllowanceNs(number), number);
        Step step;
        if (!readStatus(step))
            return false;
        if (step != Step::Ok) {
            m_lastRefusal = serverText(m_parser.text());
            m_lastRefused = number;
            m_refused.setBit(number - 1);
            popFront();
            return fail(refusalText(number));
        }
        m_frontStage = Stage::Header;
        m_header.clear();
        topUp(); // the server works on the next ones while this one is read
    }
    return true;
}

bool Pop3Session::readHeader() {
    while (m_frontStage == Stage::Header) {
        const Step step = readData();
        if (step == Step::Bad)
            return false;
        if (step == Step::End) {
            m_frontEnded = true;
            m_frontStage = Stage::Body;
        } else if (step == Step::Line && m_parser.text().isEmpty()) {
            m_frontStage = Stage::Body;
        } else {
            m_header.addLine(m_parser.text(), step == Step::Line);
        }
    }
    return true;
}

void Pop3Session::fillFields(Fields& fields) const {
    fields.subject = m_header.field("Subject").left(kMaxFieldChars);
    fields.date = m_header.field("Date").left(kMaxFieldChars);
    fields.from = m_header.field("From").left(kMaxFieldChars);
    fields.header = m_header.rawText().left(kMaxFieldChars);
}

void Pop3Session::pauseFront() {
    // Only the time spent inside the calls counts against a reply, not the caller's between them.
    m_frontLeftNs = qMax<qint64>(0, m_deadline.remainingTimeNSecs());
}

bool Pop3Session::status(qint32 number, Fields& fields) {
    if (!position(number) || !readHeader())
        return false;
    pauseFront();
    fillFields(fields);
    return true;
}

bool Pop3Session::fetch(qint32 number, Fields& fields, QString& bodyPrefix) {
    if (!position(number) || !readHeader())
        return false;
    fillFields(fields);
    QByteArray body;
    while (!m_frontEnded) {
        const Step step = readData();
        if (step == Step::Bad)
            return false;
        if (step == Step::End)
            break;
        if (body.size() < kMaxBodyPrefix) {
            const QByteArrayView text = m_parser.text();
            body.append(text.first(qMin(text.size(), kMaxBodyPrefix - body.size())));
            if (step == Step::Line && body.size() < kMaxBodyPrefix)
                body.append("\r\n");
        }
    }
    bodyPrefix = QString::fromUtf8(body);
    popFront();
    topUp();
    return true;
}

void Pop3Session::close() {
    if (m_socket.state() == QAbstractSocket::ConnectedState && !m_broken) {
        startPhase(Phase::Quit, kQuitMs * kNsPerMs);
        if (m_inFlight.empty() && send("QUIT\r\n")) {
            // The server acts on QUIT before it sees the close behind it, so its +OK, a round
            // trip later, is not waited for.
            m_socket.disconnectFromHost();
            if (m_socket.state() != QAbstractSocket::UnconnectedState)
                m_socket.waitForDisconnected(waitMs(kQuitMs));
        } else {
            // Replies sent ahead are still coming; the server ends the session on QUIT anyway.
            send("QUIT\r\n");
        }
    }
    m_socket.abort();
    m_broken = true;
}
