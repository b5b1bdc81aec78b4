// The mail library against a real Dovecot started by the test.

#include "DovecotServer.h"
#include "FetchAll.h"
#include "Pop3Session.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QThread>

namespace {

QByteArray testMessage(int i) {
    return "From: Sender " + QByteArray::number(i) +
           " <s@example.jp>\r\n"
           "To: alice@example.jp\r\n"
           "Subject: =?UTF-8?B?5pel5pys?= " +
           QByteArray::number(i) +
           "\r\n"
           "Date: Mon, 1 Jan 2024 00:00:0" +
           QByteArray::number(i) +
           " +0900\r\n"
           "\r\n"
           "Body of message " +
           QByteArray::number(i) +
           "\r\n"
           ".a line that starts with a dot\r\n"
           "..two dots\r\n"
           "last line\r\n";
}

QString bodyOf(const QByteArray& message) {
    return QString::fromUtf8(message.mid(message.indexOf("\r\n\r\n") + 4));
}

QByteArray lastLogin(const DovecotServer& server);

// The "Logged out" line of the session that logged in last, once Dovecot has written it. Matched
// by session id: an earlier session may log out late, after a later one logged in.
QByteArray lastLogout(const DovecotServer& server) {
    const QByteArray login = lastLogin(server);
    const qsizetype at = login.indexOf("session=<");
    if (at < 0)
        return {};
    const QByteArray session = login.mid(at + 8, login.indexOf('>', at) - at - 7);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        for (const QByteArray& l : server.log().split('\n')) {
            if (l.contains("Disconnected: Logged out") && l.contains(session))
                return l;
        }
        QThread::msleep(20);
    }
    return {};
}

QByteArray lastLogin(const DovecotServer& server) {
    QByteArray last;
    for (const QByteArray& l : server.log().split('\n')) {
        if (l.contains(": Login: "))
            last = l;
    }
    return last;
}

} // namespace

class TestMaillibDovecot : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void emptyMailbox();
    void threeMessages_data();
    void threeMessages();
    void plainServerWithoutStls();
    void wrongPassword();
    void apopNotOffered();
    void refusedConnect_data();
    void refusedConnect();
    void untrustedCertificate();
    void rememberedStls();
    void uidListing_data();
    void uidListing();

  private:
    QString plainUrl() const { return QStringLiteral("pop3://127.0.0.1:%1").arg(m_tls.pop3Port()); }

    DovecotServer m_tls{{.apop = true, .tls = true}};
    DovecotServer m_plain{{.apop = false, .tls = false}};
};

void TestMaillibDovecot::initTestCase() {
    // Not skipped: without Dovecot these tests have nothing to say, and that must show.
    QVERIFY2(m_tls.start(), qPrintable(m_tls.errorString()));
    QVERIFY2(m_plain.start(), qPrintable(m_plain.errorString()));
}

void TestMaillibDovecot::init() {
    QVERIFY(m_tls.clearMailbox("alice"));
    QVERIFY(m_plain.clearMailbox("alice"));
}

void TestMaillibDovecot::emptyMailbox() {
    const FetchResult r = fetchAll(plainUrl(), "alice", "secret", false);
    QVERIFY2(r.opened(), qPrintable(r.error));
    QCOMPARE(r.count, 0);
    QVERIFY(r.error.isEmpty());
}

void TestMaillibDovecot::threeMessages_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("apop");
    const QString port = QString::number(m_tls.pop3Port());
    const QString sport = QString::number(m_tls.pop3sPort());
    QTest::newRow("host:port, STLS") << "127.0.0.1:" + port << false;
    QTest::newRow("pop3://, STLS") << "pop3://localhost:" + port << false;
    QTest::newRow("pop3s://") << "pop3s://localhost:" + sport << false;
    // The certificate names "localhost", without the final dot of the full name.
    QTest::newRow("pop3s://, final dot") << "pop3s://localhost.:" + sport << false;
    QTest::newRow("APOP over STLS") << "pop3://127.0.0.1:" + port << true;
    QTest::newRow("APOP over pop3s") << "pop3s://127.0.0.1:" + sport << true;
}

void TestMaillibDovecot::threeMessages() {
    QFETCH(QString, server);
    QFETCH(bool, apop);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m_tls.addMessage("alice", testMessage(i)));

    for (int session = 0; session < 2; ++session) {
        const FetchResult r = fetchAll(server, "alice", "secret", apop);
        QVERIFY2(r.opened(), qPrintable(r.error));
        QCOMPARE(r.count, 3);
        QVERIFY2(r.ok(), qPrintable(r.error));
        for (int i = 1; i <= 3; ++i) {
            const FetchedMessage& m = r.messages.at(i - 1);
            QCOMPARE(m.size, testMessage(i).size());
            QCOMPARE(m.subject, QStringLiteral("日本 %1").arg(i));
            QCOMPARE(m.from, QStringLiteral("Sender %1 <s@example.jp>").arg(i));
            QCOMPARE(m.date, QStringLiteral("Mon, 1 Jan 2024 00:00:0%1 +0900").arg(i));
            QVERIFY(m.header.startsWith(u"From: Sender"));
            QCOMPARE(m.body, bodyOf(testMessage(i)));
        }
        // Every message went over the wire once, and the password only inside TLS.
        const QByteArray logout = lastLogout(m_tls);
        QVERIFY2(logout.contains(" retr=3/"), logout.constData());
        const QByteArray login = lastLogin(m_tls);
        QVERIFY2(login.contains(apop ? "method=APOP" : "method=PLAIN"), login.constData());
        QVERIFY2(login.contains(", TLS"), login.constData());
    }
}

void TestMaillibDovecot::plainServerWithoutStls() {
    // No STLS on offer: the session stays plain and still works.
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m_plain.addMessage("alice", testMessage(i)));
    const FetchResult r =
        fetchAll(QStringLiteral("127.0.0.1:%1").arg(m_plain.pop3Port()), "alice", "secret", false);
    QVERIFY2(r.count == 3, qPrintable(r.error));
    QCOMPARE(r.messages.at(2).body, bodyOf(testMessage(3)));
    QVERIFY(!lastLogin(m_plain).contains(", TLS"));
}

void TestMaillibDovecot::wrongPassword() {
    QVERIFY(m_tls.addMessage("alice", testMessage(1)));
    for (bool apop : {false, true}) {
        const FetchResult r = fetchAll(plainUrl(), "alice", "wrong", apop);
        QVERIFY(r.opened());
        QVERIFY(r.count < 0);
        QVERIFY2(r.error.contains(u"ログインできませんでした"), qPrintable(r.error));
        QVERIFY2(r.error.contains(u"Authentication failed"), qPrintable(r.error));
    }
}

void TestMaillibDovecot::apopNotOffered() {
    QVERIFY(m_plain.addMessage("alice", testMessage(1)));
    const int logins = int(m_plain.log().count(": Login: "));
    const FetchResult r = fetchAll(QStringLiteral("pop3://127.0.0.1:%1").arg(m_plain.pop3Port()),
                                   "alice", "secret", true);
    QVERIFY(r.count < 0);
    QVERIFY2(r.error.contains(u"APOP"), qPrintable(r.error));
    // No quiet fall back to USER/PASS.
    QCOMPARE(int(m_plain.log().count(": Login: ")), logins);
}

void TestMaillibDovecot::refusedConnect_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("reason");
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString closedPort = QString::number(probe.serverPort());
    probe.close();
    QTest::newRow("nobody listens") << "127.0.0.1:" + closedPort << "127.0.0.1"
                                    << "拒否";
    QTest::newRow("no such name") << "pop3://no-such-host.invalid"
                                  << "no-such-host.invalid"
                                  << "名前解決";
    // 127.0.0.2 reaches the same Dovecot, but its certificate names 127.0.0.1 and localhost.
    QTest::newRow("pop3s, wrong host")
        << QStringLiteral("pop3s://127.0.0.2:%1").arg(m_tls.pop3sPort()) << "127.0.0.2"
        << "ホスト名";
    QTest::newRow("STLS, wrong host")
        << QStringLiteral("127.0.0.2:%1").arg(m_tls.pop3Port()) << "127.0.0.2"
        << "ホスト名";
    // The wrong side of TLS from the first byte, told as such and not as a timeout.
    QTest::newRow("pop3s, plain port")
        << QStringLiteral("pop3s://127.0.0.1:%1").arg(m_tls.pop3Port()) << "127.0.0.1"
        << "暗号化せずに応答しました";
    QTest::newRow("plain, pop3s port")
        << QStringLiteral("127.0.0.1:%1").arg(m_tls.pop3sPort()) << "127.0.0.1"
        << "暗号化して接続する必要がある";
    QTest::newRow("bad setting") << "pop3://host:99999"
                                 << "pop3://host:99999"
                                 << "正しくありません";
}

void TestMaillibDovecot::refusedConnect() {
    QFETCH(QString, server);
    QFETCH(QString, named);
    QFETCH(QString, reason);
    // A port that waits for TLS says nothing; the greeting's wait is what tells.
    Pop3Session::Settings settings = mailSettings();
    settings.commandTimeoutMs = 2000;
    Pop3Session session(settings);
    QElapsedTimer t;
    t.start();
    QVERIFY(!session.open(server));
    QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
    const QString text = session.error();
    QVERIFY2(text.contains(named) && text.contains(reason), qPrintable(text));
}

void TestMaillibDovecot::untrustedCertificate() {
    // Without the test CA in the trust store, the same server is refused.
    const QByteArray saved = qgetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_FILE");
    Pop3Session session(mailSettings());
    const bool opened = session.open(QStringLiteral("pop3s://localhost:%1").arg(m_tls.pop3sPort()));
    qputenv("SSL_CERT_FILE", saved);
    QVERIFY(!opened);
    QVERIFY2(session.error().contains(u"信頼できる認証局"), qPrintable(session.error()));
}

void TestMaillibDovecot::rememberedStls() {
    // Both servers' ports are remembered as having offered STLS. The plain one offers none
    // now: no login goes out. pop3s is TLS from the first byte, so the memory does not apply.
    QVERIFY(m_plain.addMessage("alice", testMessage(1)));
    QVERIFY(m_tls.addMessage("alice", testMessage(1)));
    RecordedTlsMemory memory;
    memory.servers = {{QStringLiteral("localhost"), m_plain.pop3Port()},
                      {QStringLiteral("localhost"), m_tls.pop3sPort()}};
    mailSettings().tlsMemory = &memory;
    const int logins = int(m_plain.log().count(": Login: "));
    const FetchResult plain =
        fetchAll(QStringLiteral("LocalHost:%1").arg(m_plain.pop3Port()), "alice", "secret", false);
    const FetchResult tls = fetchAll(QStringLiteral("pop3s://localhost:%1").arg(m_tls.pop3sPort()),
                                     "alice", "secret", false);
    resetMailSettings();
    QVERIFY(plain.opened());
    QVERIFY(plain.count < 0);
    QVERIFY2(plain.error.contains(u"以前は暗号化通信"), qPrintable(plain.error));
    QCOMPARE(int(m_plain.log().count(": Login: ")), logins);
    QVERIFY2(tls.count == 1, qPrintable(tls.error));
}

QTEST_GUILESS_MAIN(TestMaillibDovecot)
#include "tst_maillib_dovecot.moc"

void TestMaillibDovecot::uidListing_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("apop");
    QTest::newRow("STLS") << QStringLiteral("127.0.0.1:%1").arg(m_tls.pop3Port()) << false;
    QTest::newRow("APOP over pop3s")
        << QStringLiteral("pop3s://127.0.0.1:%1").arg(m_tls.pop3sPort()) << true;
}

// The ids stay with their messages from one session to the next, a delivery adds one, and the
// sessions read nothing: the server would count a RETR as a download.
void TestMaillibDovecot::uidListing() {
    QFETCH(QString, server);
    QFETCH(bool, apop);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m_tls.addMessage("alice", testMessage(i)));
    QList<UidResult> sessions;
    for (int session = 0; session < 3; ++session) {
        if (session == 2)
            QVERIFY(m_tls.addMessage("alice", testMessage(4)));
        sessions << listUids(server, "alice", "secret", apop, 100);
        const UidResult& r = sessions.last();
        QVERIFY2(r.failedIn == FetchResult::Stage::None, qPrintable(r.error));
        QCOMPARE(r.count, session == 2 ? 4 : 3);
        QCOMPARE(r.firstNumber, 1);
        QCOMPARE(r.uids.size(), r.count);
        QCOMPARE(QSet<QString>(r.uids.begin(), r.uids.end()).size(), r.count);
        const QByteArray logout = lastLogout(m_tls);
        QVERIFY2(logout.contains(" retr=0/0") && logout.contains(" del=0/"), logout.constData());
    }
    QCOMPARE(sessions[1].uids, sessions[0].uids);
    QCOMPARE(sessions[2].uids.first(3), sessions[0].uids);
}
