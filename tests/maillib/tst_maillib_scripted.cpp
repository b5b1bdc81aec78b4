// The POP3 session against a scripted server: broken lines, stalls, nonsense, huge messages,
// and the pipelined and the one-at-a-time paths giving the same results.

#include "FetchAll.h"
#include "Pop3Session.h"
#include "ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>
#include <atomic>

using Fault = ScriptedPop3Server::Fault;
Q_DECLARE_METATYPE(ScriptedPop3Server::Fault)

namespace {

QList<QByteArray> sampleMessages() {
    QList<QByteArray> m;
    m << "Subject: one\r\nFrom: a@example.jp\r\nDate: Tue, 2 Jan 2024 10:00:00 +0900\r\n\r\n"
         "first body\r\n.leading dot\r\n..two dots\r\n.\r\nafter a lone dot\r\n";
    m << "Subject: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=\r\nFrom: b@example.jp\r\n\r\n";
    m << "Subject: long line\r\n\r\n" + QByteArray(70000, 'L') + "\r\nshort\r\n";
    m << "Subject: header only, no blank line\r\nX-Note: none\r\n";
    for (int i = 5; i <= 12; ++i)
        m << "Subject: number " + QByteArray::number(i) + "\r\n\r\nbody " + QByteArray::number(i) +
                 "\r\n";
    return m;
}

// What the session should hand out for message bytes.
FetchedMessage expected(const QByteArray& message) {
    FetchedMessage e;
    const qsizetype split = message.indexOf("\r\n\r\n");
    const QByteArray header = split < 0 ? message.chopped(2) : message.left(split);
    e.header = QString::fromUtf8(header);
    e.body = split < 0 ? QString() : QString::fromUtf8(message.mid(split + 4).left(64 * 1024));
    e.size = qint32(message.size());
    return e;
}

qint64 residentKb() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString server(const ScriptedPop3Server& s) {
    return QStringLiteral("127.0.0.1:%1").arg(s.port());
}

} // namespace

class TestMaillibScripted : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void pipelinedAndPlainAgree();
    void callerOutOfOrder_data();
    void callerOutOfOrder();
    void closeWithRepliesInFlight();
    void apop();
    void brokenServer_data();
    void brokenServer();
    void hugeClaimKeepsMemoryBounded();
    void windowBySize_data();
    void windowBySize();
    void uidListing_data();
    void uidListing();
    void refusedMessageIsNotAskedAgain_data();
    void refusedMessageIsNotAskedAgain();
};

void TestMaillibScripted::initTestCase() {
    // Whatever Qt (and Wine's network libraries) set up on first use is not counted against the
    // first case.
    ScriptedPop3Server warmUp({.messages = sampleMessages()});
    QVERIFY(fetchAll(server(warmUp), "alice", "secret", false).ok());
}

void TestMaillibScripted::init() {
    // Servers of earlier cases offered STLS on ports a later server may get again.
    resetMailSettings();
    Pop3Session::Settings& settings = mailSettings();
    settings.connectTimeoutMs = settings.commandTimeoutMs = settings.stallTimeoutMs = 5000;
}

void TestMaillibScripted::pipelinedAndPlainAgree() {
    const QList<QByteArray> messages = sampleMessages();
    QList<FetchResult> results;
    for (bool pipelining : {true, false}) {
        ScriptedPop3Server s({.pipelining = pipelining, .messages = messages});
        results.append(fetchAll(server(s), "alice", "secret", false));
        const FetchResult& r = results.last();
        QCOMPARE(r.count, messages.size());
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(s.retrsCompleted(), messages.size());
        // STLS goes first; refused, CAPA tells whether it was offered.
        QCOMPARE(s.commands().first(6),
                 (QByteArrayList{"STLS", "CAPA", "USER alice", "PASS secret", "STAT", "LIST"}));
        if (pipelining)
            QVERIFY(s.maxCommandsPerRead() > 2);
        else
            QCOMPARE(s.maxCommandsPerRead(), 1);
    }
    QCOMPARE(results[0].messages, results[1].messages);
    for (int i = 0; i < messages.size(); ++i) {
        const FetchedMessage want = expected(messages[i]);
        const FetchedMessage& got = results[0].messages[i];
        QCOMPARE(got.size, want.size);
        QCOMPARE(got.header, want.header);
        QCOMPARE(got.body, want.body);
    }
    QCOMPARE(results[0].messages[0].subject, u"one"_qs);
    QCOMPARE(results[0].messages[0].from, u"a@example.jp"_qs);
    QCOMPARE(results[0].messages[0].date, u"Tue, 2 Jan 2024 10:00:00 +0900"_qs);
    QCOMPARE(results[0].messages[1].subject, u"日本"_qs);
    QCOMPARE(results[0].messages[3].subject, u"header only, no blank line"_qs);
}

void TestMaillibScripted::callerOutOfOrder_data() {
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<int>("window");
    QTest::newRow("pipelined") << true << 1000;
    QTest::newRow("pipelined, window 3") << true << 3;
    QTest::newRow("one at a time") << false << 1000;
}

void TestMaillibScripted::callerOutOfOrder() {
    QFETCH(bool, pipelining);
    QFETCH(int, window);
    mailSettings().window = window;
    const QList<QByteArray> messages = sampleMessages();
    ScriptedPop3Server s({.pipelining = pipelining, .messages = messages});
    Pop3Session session(mailSettings());
    QVERIFY2(session.open(server(s)), qPrintable(session.error()));
    QCOMPARE(session.login("alice", "secret", false), messages.size());
    Pop3Session::Fields fields;
    QString body;
    // Mail before status, the same one twice, skipping ahead, going back, status only.
    const QList<std::pair<char, int>> calls = {{'m', 3},  {'s', 1},  {'m', 1},  {'m', 1},
                                               {'s', 2},  {'m', 9},  {'s', 2},  {'m', 2},
                                               {'s', 12}, {'s', 12}, {'m', 12}, {'m', 5}};
    for (const auto& [kind, n] : calls) {
        const FetchedMessage want = expected(messages[n - 1]);
        if (kind == 'm') {
            QVERIFY2(session.fetch(n, fields, body), qPrintable(session.error()));
            QCOMPARE(body, want.body);
        } else {
            QVERIFY2(session.status(n, fields), qPrintable(session.error()));
        }
        QCOMPARE(fields.header, want.header);
        QCOMPARE(session.size(n), qint64(want.size));
    }
    QVERIFY(!session.status(13, fields));
    QCOMPARE(session.size(13), 0);
    session.close();
}

void TestMaillibScripted::closeWithRepliesInFlight() {
    ScriptedPop3Server s({.messages = sampleMessages()});
    Pop3Session session(mailSettings());
    QVERIFY(session.open(server(s)));
    QVERIFY(session.login("alice", "secret", false) > 0);
    Pop3Session::Fields fields;
    QVERIFY(session.status(1, fields));
    QElapsedTimer t;
    t.start();
    session.close();
    QVERIFY(t.elapsed() < 1000);
    // The server takes the next session afterwards.
    ScriptedPop3Server again({.messages = sampleMessages()});
    QCOMPARE(fetchAll(server(again), "alice", "secret", false).count, 12);
}

void TestMaillibScripted::apop() {
    ScriptedPop3Server s({.messages = sampleMessages()});
    QCOMPARE(fetchAll(server(s), "alice", "secret", true).count, 12);
    QVERIFY(s.commands().contains(
        "APOP alice " +
        QCryptographicHash::hash(QByteArray(ScriptedPop3Server::kTimestamp) + "secret",
                                 QCryptographicHash::Md5)
            .toHex()));
    const FetchResult wrong = fetchAll(server(s), "alice", "nope", true);
    QVERIFY(wrong.count < 0);
    QVERIFY2(wrong.error.contains(u"Authentication failed"), qPrintable(wrong.error));
    // No timestamp in the greeting: APOP is refused before anything is sent.
    ScriptedPop3Server plain({.timestamp = false, .messages = sampleMessages()});
    const FetchResult r = fetchAll(server(plain), "alice", "secret", true);
    QVERIFY(r.count < 0);
    QVERIFY2(r.error.contains(u"APOP"), qPrintable(r.error));
    for (const QByteArray& command : plain.commands())
        QVERIFY2(!command.startsWith("APOP") && !command.startsWith("PASS"), command.constData());
}

void TestMaillibScripted::brokenServer_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<int>("failsAt"); // the first message whose calls fail
    QTest::addColumn<QString>("text");
    QTest::newRow("drop, pipelined") << Fault::DropInMessage << true << true << 2 << "切れました";
    QTest::newRow("drop, one at a time")
        << Fault::DropInMessage << false << true << 2 << "切れました";
    QTest::newRow("stall in message")
        << Fault::StallInMessage << true << true << 3 << "応答がなくなりました";
    QTest::newRow("stall, one at a time")
        << Fault::StallInMessage << false << true << 3 << "応答がなくなりました";
    // No greeting at all is also how a port that wants TLS first behaves.
    QTest::newRow("silent greeting") << Fault::SilentGreeting << true << false << 0 << "pop3s://";
    QTest::newRow("nonsense greeting")
        << Fault::NonsenseGreeting << true << false << 0 << "正しくない応答";
    QTest::newRow("TLS greeting") << Fault::TlsGreeting << true << false << 0
                                  << "暗号化通信(TLS)で応答しました";
    // STLS on offer: no way round it to a password in the clear.
    QTest::newRow("STLS refused") << Fault::StlsRefused << true << false << 0 << "暗号化通信";
    QTest::newRow("STLS, reply injected")
        << Fault::StlsInjected << true << false << 0 << "正しくない応答";
    QTest::newRow("STLS, no handshake")
        << Fault::StlsNoHandshake << true << false << 0 << "暗号化通信";
    QTest::newRow("nonsense reply")
        << Fault::NonsenseReply << true << true << 2 << "正しくない応答";
}

void TestMaillibScripted::brokenServer() {
    QFETCH(Fault, fault);
    QFETCH(bool, pipelining);
    QFETCH(bool, connects);
    QFETCH(int, failsAt);
    QFETCH(QString, text);
#ifdef Q_OS_WIN
    if (fault == Fault::StlsNoHandshake)
        QSKIP("under Wine a TLS handshake with a server that keeps talking plain POP3 waits out "
              "the connect timeout instead of failing at once");
#endif
    mailSettings().commandTimeoutMs = mailSettings().stallTimeoutMs = 400;
    ScriptedPop3Server s({.pipelining = pipelining,
                          .messages = sampleMessages(),
                          .fault = fault,
                          .faultMessage = failsAt});
    QElapsedTimer t;
    t.start();
    Pop3Session session(mailSettings());
    const bool opened = session.open(server(s));
    if (!connects) {
        QVERIFY(!opened);
        QVERIFY2(session.error().contains(text), qPrintable(session.error()));
        QVERIFY2(t.elapsed() < 3000,
                 qPrintable(QString::number(t.elapsed()) + u' ' + session.error()));
        for (const QByteArray& command : s.commands())
            QVERIFY2(!command.startsWith("USER") && !command.startsWith("PASS"),
                     command.constData());
        return;
    }
    QVERIFY2(opened, qPrintable(session.error()));
    QCOMPARE(session.login("alice", "secret", false), 12);
    Pop3Session::Fields fields;
    QString body;
    for (int n = 1; n <= 12; ++n) {
        const bool status = session.status(n, fields);
        const bool mail = session.fetch(n, fields, body);
        if (n < failsAt) {
            QVERIFY(status && mail);
            QCOMPARE(body, expected(sampleMessages()[n - 1]).body);
        } else {
            // Half a message is not handed out as a message; the session is over.
            QVERIFY(!mail);
            QVERIFY2(session.error().contains(text), qPrintable(session.error()));
        }
    }
    session.close();
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
}

void TestMaillibScripted::hugeClaimKeepsMemoryBounded() {
    // The server claims 2 GB and sends 48 MB: the size is reported, the body is a prefix, and
    // the memory of the process does not follow the message.
    constexpr qint64 kHuge = 48 * 1024 * 1024;
    ScriptedPop3Server s({.messages = sampleMessages(),
                          .fault = Fault::HugeMessage,
                          .faultMessage = 2,
                          .claimedSize = 2000000000,
                          .hugeBytes = kHuge});
    Pop3Session session(mailSettings());
    QVERIFY(session.open(server(s)));
    QVERIFY(session.login("alice", "secret", false) == 12);
    QCOMPARE(session.size(2), 2000000000);
    Pop3Session::Fields fields;
    QString body;
    QVERIFY(session.fetch(1, fields, body));

    std::atomic<bool> done{false};
    std::atomic<qint64> peakKb{0};
    const qint64 baseKb = residentKb();
    QVERIFY(baseKb > 0);
    QThread* sampler = QThread::create([&] {
        while (!done) {
            peakKb = qMax(peakKb.load(), residentKb());
            QThread::usleep(500);
        }
    });
    sampler->start();
    const bool fetched = session.fetch(2, fields, body);
    done = true;
    sampler->wait();
    delete sampler;
    QVERIFY(fetched);
    QCOMPARE(body.size(), 64 * 1024);
    QVERIFY(body.endsWith(u"xx"));
    QVERIFY2(peakKb - baseKb < 4 * 1024,
             qPrintable(QStringLiteral("grew by %1 kB").arg(peakKb - baseKb)));
    // The next message is intact after the huge one.
    QVERIFY(session.fetch(3, fields, body));
    QCOMPARE(body, expected(sampleMessages()[2]).body);
    session.close();
}

void TestMaillibScripted::windowBySize_data() {
    QTest::addColumn<QList<int>>("sizes"); // of the messages' bodies, in bytes
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("windowBytes");
    QTest::addColumn<qint64>("claimedSecond"); // what LIST claims for message 2; 0: its size
    QTest::addColumn<int>("firstAsked");       // RETRs sent when message 1 is asked for
    const QList<int> small(12, 1000);
    QList<int> largeFirst(12, 1000);
    largeFirst[0] = 1024 * 1024;
    QList<int> largeFourth(12, 1000);
    largeFourth[3] = 1024 * 1024;
    QTest::newRow("small ones, all at once") << small << true << 1000 << 16 << 0LL << 12;
    QTest::newRow("at most the window's count") << small << true << 3 << 16 << 0LL << 3;
    QTest::newRow("at most the window's bytes")
        << QList<int>(12, 10000) << true << 1000 << 35 << 0LL << 3;
    QTest::newRow("a large one goes alone") << largeFirst << true << 1000 << 64 << 0LL << 1;
    QTest::newRow("small ones up to a large one") << largeFourth << true << 1000 << 64 << 0LL << 3;
    QTest::newRow("LIST claims 2 GB") << small << true << 1000 << 16 << 2000000000LL << 1;
    QTest::newRow("one at a time") << largeFourth << false << 1000 << 64 << 0LL << 1;
}

// However large or small the messages, the replies asked for ahead stay within the window, and
// more than one is on its way while the next ones fit.
void TestMaillibScripted::windowBySize() {
    QFETCH(QList<int>, sizes);
    QFETCH(bool, pipelining);
    QFETCH(int, window);
    QFETCH(int, windowBytes); // in KB
    QFETCH(qint64, claimedSecond);
    QFETCH(int, firstAsked);
    QList<QByteArray> messages;
    for (int i = 0; i < sizes.size(); ++i)
        messages << "Subject: " + QByteArray::number(i + 1) + "\r\n\r\n" +
                        QByteArray(sizes[i], char('a' + i)) + "\r\n";
    ScriptedPop3Server s({.pipelining = pipelining,
                          .messages = messages,
                          .fault = claimedSecond ? Fault::HugeMessage : Fault::None,
                          .faultMessage = 2,
                          .claimedSize = claimedSecond});
    Pop3Session::Settings settings;
    settings.window = window;
    settings.windowBytes = windowBytes * 1024;
    Pop3Session session(settings);
    QVERIFY2(session.open(server(s)), qPrintable(session.error()));
    QCOMPARE(session.login("alice", "secret", false), messages.size());
    Pop3Session::Fields fields;
    QString body;
    for (qint32 n = 1; n <= messages.size(); ++n) {
        QVERIFY2(session.status(n, fields), qPrintable(session.error()));
        const qsizetype ahead = session.repliesAhead();
        if (n == 1)
            QCOMPARE(ahead, firstAsked);
        QVERIFY(ahead >= 1 && ahead <= window);
        QVERIFY2(ahead == 1 || session.bytesAhead() <= settings.windowBytes,
                 qPrintable(QString::number(session.bytesAhead())));
        const bool nextFits =
            n < messages.size() && session.size(n) + session.size(n + 1) <= settings.windowBytes;
        QVERIFY(ahead > 1 || !pipelining || !nextFits);
        QVERIFY2(session.fetch(n, fields, body), qPrintable(session.error()));
        QCOMPARE(fields.subject, QString::number(n));
        QCOMPARE(body.size(), qMin(sizes[n - 1] + 2, 64 * 1024));
    }
    session.close();
    // Each message was asked for once.
    QCOMPARE(s.retrsCompleted(), messages.size());
}

void TestMaillibScripted::uidListing_data() {
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<bool>("uidl");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("firstNumber"); // 0: no ids
    QTest::newRow("pipelined") << true << true << Fault::None << 12 << 100 << 1;
    QTest::newRow("one at a time") << false << true << Fault::None << 12 << 100 << 1;
    QTest::newRow("the last five kept") << true << true << Fault::None << 12 << 5 << 8;
    QTest::newRow("empty mailbox") << true << true << Fault::None << 0 << 100 << 1;
    QTest::newRow("no UIDL") << true << false << Fault::None << 12 << 100 << 0;
    QTest::newRow("UIDL leaves one out") << true << true << Fault::UidlSkips << 12 << 100 << 0;
}

void TestMaillibScripted::uidListing() {
    QFETCH(bool, pipelining);
    QFETCH(bool, uidl);
    QFETCH(Fault, fault);
    QFETCH(int, messages);
    QFETCH(int, keep);
    QFETCH(int, firstNumber);
    const QList<QByteArray> all = sampleMessages().first(messages);
    ScriptedPop3Server s({.pipelining = pipelining,
                          .uidl = uidl,
                          .messages = all,
                          .fault = fault,
                          .faultMessage = 5});
    const UidResult r = listUids(server(s), "alice", "secret", false, keep);
    QVERIFY2(r.failedIn == FetchResult::Stage::None, qPrintable(r.error));
    QCOMPARE(r.count, messages);
    QCOMPARE(r.firstNumber, firstNumber);
    QStringList want;
    for (int n = firstNumber; firstNumber > 0 && n <= messages; ++n)
        want << QString::fromLatin1(ScriptedPop3Server::uid(all[n - 1]));
    QCOMPARE(r.uids, want);
    // It only looks: no message is read or deleted, and nothing is marked as seen.
    QTRY_COMPARE(s.connectionsClosed(), s.connections());
    const QList<QByteArray> sent = s.commands();
    QVERIFY(sent.contains("STAT"));
    QVERIFY(sent.contains("QUIT"));
    for (const QByteArray& command : sent) {
        for (const char* verb : {"RETR", "DELE", "TOP", "LIST"})
            QVERIFY2(!command.startsWith(verb), command.constData());
    }
    // STAT and UIDL go out together when pipelining, but nothing rides behind PASS.
    QCOMPARE(s.maxCommandsPerRead(), pipelining ? 2 : 1);
}

void TestMaillibScripted::refusedMessageIsNotAskedAgain_data() {
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("pipelining") << true;
    QTest::newRow("one command at a time") << false;
}

// The check asks for a message's header and then for the message: once the server refused it,
// the second call fails with the same answer, and the messages after it still come.
void TestMaillibScripted::refusedMessageIsNotAskedAgain() {
    QFETCH(bool, pipelining);
    ScriptedPop3Server s({.pipelining = pipelining,
                          .messages = sampleMessages(),
                          .fault = Fault::RetrRefused,
                          .faultMessage = 1});
    Pop3Session session(mailSettings());
    QVERIFY(session.open(server(s)));
    QCOMPARE(session.login("alice", "secret", false), 12);
    Pop3Session::Fields fields;
    QString body;
    QVERIFY(!session.status(1, fields));
    QVERIFY2(session.error().contains(
                 u"メール 1 を受信できませんでした。サーバーの応答: no such message"),
             qPrintable(session.error()));
    QVERIFY(!session.fetch(1, fields, body));
    QVERIFY2(session.error().contains(u"no such message"), qPrintable(session.error()));
    QVERIFY(session.fetch(2, fields, body));
    QCOMPARE(fields.subject, QStringLiteral("日本"));
    session.close();
    QTRY_COMPARE(s.connectionsClosed(), s.connections());
    QCOMPARE(s.commands().count("RETR 1"), 1);
}

QTEST_GUILESS_MAIN(TestMaillibScripted)
#include "tst_maillib_scripted.moc"
