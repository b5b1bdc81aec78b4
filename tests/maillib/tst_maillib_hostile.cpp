// The mail library against hostile servers: replies without end, trickles, slow answers, lying
// STAT and LIST, stripped STLS, a refused USER, and headers built to make decoding slow. Each
// case must end within its deadlines (shrunk here) and take little memory.

#include "FetchAll.h"
#include "MailHeader.h"
#include "Pop3Session.h"
#include "ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QTest>
#include <ctime>

using Fault = ScriptedPop3Server::Fault;
Q_DECLARE_METATYPE(ScriptedPop3Server::Script)
Q_DECLARE_METATYPE(ScriptedPop3Server::Fault)

namespace {

// The deadlines of the cases; the waits of the library are longer, so the deadlines decide.
constexpr int kConnectDeadlineMs = 600;
constexpr int kLoginDeadlineMs = 600;
constexpr int kMessageDeadlineMs = 500;
constexpr int kCheckDeadlineMs = 1500;
constexpr int kWaitMs = 1000;

QList<QByteArray> messages(const QByteArray& subject = "hello") {
    QList<QByteArray> m;
    for (int i = 1; i <= 12; ++i)
        m << "Subject: " + subject + "\r\nFrom: a@example.jp\r\n\r\nbody " + QByteArray::number(i) +
                 "\r\n";
    return m;
}

// The failsIn column's name for where a session failed.
QString stageName(FetchResult::Stage stage) {
    switch (stage) {
    case FetchResult::Stage::Connect:
        return QStringLiteral("connect");
    case FetchResult::Stage::Login:
        return QStringLiteral("login");
    case FetchResult::Stage::Message:
        return QStringLiteral("message");
    case FetchResult::Stage::None:
        break;
    }
    return QString();
}

qint64 statusKb(const char* field) {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts the peak resident size (VmHWM) afresh at the current size.
bool resetPeakMemory() {
    QFile f("/proc/self/clear_refs");
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// Best of three, in ms: the machine is shared, and the least time is the decoder's own.
// Milliseconds of this thread's own CPU time, best of five: other processes on a loaded machine
// neither add to it nor make the small case look faster than the large one.
double decodeMs(const QByteArray& value) {
    const auto cpuNs = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
    };
    // A decode is timed over as many runs as make the clock's steps small beside them: Windows
    // counts a thread's time in steps of 10 to 16 ms, Linux in nanoseconds.
    timespec step{};
    clock_getres(CLOCK_THREAD_CPUTIME_ID, &step);
    const double enoughNs = 20 * (double(step.tv_sec) * 1e9 + double(step.tv_nsec));
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double start = cpuNs();
        int runs = 0;
        do {
            if (MailHeader::decodeWords(value).isEmpty() && !value.isEmpty())
                return -1;
            ++runs;
        } while (cpuNs() - start < enoughNs);
        best = qMin(best, (cpuNs() - start) / 1e6 / runs);
    }
    return best;
}

} // namespace

class TestMaillibHostile : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void hostileServer_data();
    void hostileServer();
    void listingTimeIsCapped_data();
    void listingTimeIsCapped();
    void hostileUidList_data();
    void hostileUidList();
    void headerDecodingIsLinear_data();
    void headerDecodingIsLinear();
};

void TestMaillibHostile::initTestCase() {
    QVERIFY2(resetPeakMemory(), "the peak resident size cannot be reset here");
    // Whatever Qt sets up on first use is not counted against the first case.
    ScriptedPop3Server warmUp({.messages = messages()});
    QCOMPARE(
        fetchAll(QStringLiteral("127.0.0.1:%1").arg(warmUp.port()), "alice", "secret", false).count,
        12);
}

void TestMaillibHostile::init() {
    resetMailSettings();
    Pop3Session::Settings& s = mailSettings();
    s.connectTimeoutMs = s.commandTimeoutMs = s.stallTimeoutMs = kWaitMs;
    s.connectDeadlineMs = kConnectDeadlineMs;
    s.loginDeadlineMs = kLoginDeadlineMs;
    s.messageDeadlineMs = kMessageDeadlineMs;
    s.minTransferRate = 2048;
    s.checkDeadlineMs = kCheckDeadlineMs;
}

void TestMaillibHostile::hostileServer_data() {
    QTest::addColumn<ScriptedPop3Server::Script>("script");
    QTest::addColumn<bool>("ownMemory");  // the program's memory of STLS servers, not ours
    QTest::addColumn<QString>("failsIn"); // connect, login, message, or empty: nothing fails
    QTest::addColumn<int>("count");       // what the login returns when it works
    QTest::addColumn<QString>("text");    // in the failure's text
    QTest::addColumn<int>("maxMs");       // the whole check, connect to close
    QTest::addColumn<int>("maxKb");       // growth of the peak resident size
    QTest::addColumn<QByteArrayList>("neverSent");

    const QList<QByteArray> m = messages();
    const QByteArrayList none;
    const QByteArrayList secrets = {"USER", "PASS", "APOP"};
    // A deadline, plus the time a shared machine may add to it.
    const int slack = 800;
    QTest::newRow("endless RETR") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::EndlessRetr,
                                                                .faultMessage = 3}
                                  << false << "message" << 12 << "メール 3 の受信が"
                                  << kMessageDeadlineMs + slack << 2048 << none;
    QTest::newRow("endless LIST") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::EndlessList}
                                  << false << "login" << 0 << "メール一覧の受信が"
                                  << kLoginDeadlineMs + slack << 2048 << none;
    QTest::newRow("endless CAPA") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::EndlessCapa}
                                  << false << "connect" << 0 << "接続が1秒以内に終わりませんでした"
                                  << kConnectDeadlineMs + slack << 2048 << none;
    QTest::newRow("trickle in RETR") << ScriptedPop3Server::Script{.messages = m,
                                                                   .fault = Fault::TrickleRetr,
                                                                   .faultMessage = 2,
                                                                   .trickleMs = 100}
                                     << false << "message" << 12 << "メール 2 の受信が"
                                     << kMessageDeadlineMs + slack << 2048 << none;
    // Each reply comes within the wait for it, but the connect as a whole takes too long.
    QTest::newRow("slow replies") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::SlowReplies,
                                                                .delayMs = 400}
                                  << false << "connect" << 0 << "秒以内に終わりませんでした"
                                  << kConnectDeadlineMs + slack << 2048 << none;
    // Every step keeps its own deadline, but all of them together pass the whole check's.
    QTest::newRow("slow check") << ScriptedPop3Server::Script{.messages = m,
                                                              .fault = Fault::SlowReplies,
                                                              .delayMs = 100}
                                << false << "message" << 12 << "メールの確認が2秒以内"
                                << kCheckDeadlineMs + slack << 2048 << none;
    // A count LIST does not back up, or a LIST that makes no sense, is no count at all.
    QTest::newRow("huge STAT") << ScriptedPop3Server::Script{.messages = m,
                                                             .fault = Fault::HugeStat}
                               << false << "login" << 0 << "LIST)には12通のメールがありますが、"
                               << slack << 2048 << none;
    // LIST's small claim lets every RETR go out at once; the huge reply still passes through.
    QTest::newRow("LIST claims little, a huge message comes")
        << ScriptedPop3Server::Script{.messages = m,
                                      .fault = Fault::HugeMessage,
                                      .faultMessage = 2,
                                      .claimedSize = 10,
                                      .hugeBytes = 4 * 1024 * 1024}
        << false << "" << 12 << "" << kMessageDeadlineMs + slack << 2048 << none;
    QTest::newRow("LIST skips a message")
        << ScriptedPop3Server::Script{.messages = m, .fault = Fault::ListSkips, .faultMessage = 5}
        << false << "login" << 0 << "正しくない行がありました。サーバーの応答: 6 " << slack << 2048
        << none;
    QTest::newRow("LIST gives a negative size")
        << ScriptedPop3Server::Script{.messages = m.first(6), .fault = Fault::ListMalformed}
        << false << "login" << 0 << "サーバーの応答: 1 -5" << slack << 2048 << none;
    QTest::newRow("LIST refused") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::ListRefused}
                                  << false << "login" << 0 << "LIST" << slack << 2048 << none;
    QTest::newRow("STLS stripped")
        << ScriptedPop3Server::Script{.messages = m, .fault = Fault::StlsFirstOnly} << false
        << "login" << 0 << "以前は暗号化通信" << slack << 2048 << secrets;
    QTest::newRow("STLS stripped, program's memory")
        << ScriptedPop3Server::Script{.messages = m, .fault = Fault::StlsFirstOnly} << true
        << "login" << 0 << "以前は暗号化通信" << slack << 2048 << secrets;
    QTest::newRow("USER refused") << ScriptedPop3Server::Script{.messages = m,
                                                                .fault = Fault::UserRefused}
                                  << false << "login" << 0 << "no such user" << slack << 2048
                                  << QByteArrayList{"PASS"};
    // Unending encoded words fill the whole header the library keeps.
    QByteArray words;
    while (words.size() < 64 * 1024)
        words += "=?UTF-8?B?a ";
    QTest::newRow("quadratic header") << ScriptedPop3Server::Script{.messages = messages(words)}
                                      << false << "" << 12 << "" << slack << 4096 << none;
}

void TestMaillibHostile::hostileServer() {
    QFETCH(ScriptedPop3Server::Script, script);
    QFETCH(bool, ownMemory);
    QFETCH(QString, failsIn);
    QFETCH(int, count);
    QFETCH(QString, text);
    QFETCH(int, maxMs);
    QFETCH(int, maxKb);
    QFETCH(QByteArrayList, neverSent);

    RecordedTlsMemory memory;
    if (ownMemory)
        mailSettings().tlsMemory = &memory;
    ScriptedPop3Server s(script);
    const QString server = QStringLiteral("127.0.0.1:%1").arg(s.port());
    if (script.fault == Fault::StlsFirstOnly) {
        // The first connection offers STLS (and refuses it): no login goes out on it.
        Pop3Session first(mailSettings());
        QVERIFY(!first.open(server));
        QVERIFY2(first.error().contains(u"暗号化通信"), qPrintable(first.error()));
        if (ownMemory)
            QVERIFY(memory.servers.contains({QStringLiteral("127.0.0.1"), s.port()}));
    }

    QVERIFY(resetPeakMemory());
    const qint64 baseKb = statusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    const FetchResult r = fetchAll(server, "alice", "secret", false, KeepMessages::LastOnly);
    const qint64 ms = t.elapsed();
    const qint64 grownKb = statusKb("VmHWM:") - baseKb;
    if (ownMemory)
        resetMailSettings();

    qInfo("%s: %lld ms, peak memory +%lld kB", QTest::currentDataTag(), ms, grownKb);
    QCOMPARE(stageName(r.failedIn), failsIn);
    QVERIFY2(r.error.contains(text), qPrintable(r.error));
    if (failsIn != u"connect" && failsIn != u"login")
        QCOMPARE(r.count, count);
    if (failsIn.isEmpty())
        QCOMPARE(r.last.body, QStringLiteral("body %1\r\n").arg(count));
    QVERIFY2(ms <= maxMs, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
    QVERIFY2(grownKb <= maxKb, qPrintable(QStringLiteral("grew by %1 kB").arg(grownKb)));
    // Everything the client sent has arrived once the server has seen every connection close.
    QTRY_COMPARE(s.connectionsClosed(), s.connections());
    for (const QByteArray& command : s.commands()) {
        for (const QByteArray& secret : neverSent)
            QVERIFY2(!command.startsWith(secret), command.constData());
    }
}

// Each entry of a listing earns time, so a server that lists without end as fast as it earns is
// given up only by the cap on what a listing earns; an honest listing slower than the login's
// own deadline still arrives.
void TestMaillibHostile::listingTimeIsCapped_data() {
    QTest::addColumn<ScriptedPop3Server::Script>("script");
    QTest::addColumn<int>("count"); // -1: the login fails
    QList<QByteArray> many;
    for (int i = 0; i < 1500; ++i)
        many << "Subject: x\r\n\r\nx\r\n";
    QTest::newRow("endless LIST, STAT 2147483647")
        << ScriptedPop3Server::Script{.messages = messages(),
                                      .fault = Fault::EndlessList,
                                      .statClaim = 2147483647}
        << -1;
    QTest::newRow("endless UIDL, STAT 2147483647")
        << ScriptedPop3Server::Script{.uidl = true,
                                      .messages = messages(),
                                      .fault = Fault::EndlessUidl,
                                      .statClaim = 2147483647}
        << -1;
    QTest::newRow("1500 messages listed in 1.5 s")
        << ScriptedPop3Server::Script{.messages = many, .listLinesPerSecond = 1000} << 1500;
}

void TestMaillibHostile::listingTimeIsCapped() {
    QFETCH(ScriptedPop3Server::Script, script);
    QFETCH(int, count);
    constexpr int loginMs = 1000;
    mailSettings().loginDeadlineMs = loginMs;
    // The whole check's deadline is far off: the listing's own cap must end it.
    mailSettings().checkDeadlineMs = 20000;
    ScriptedPop3Server s(script);
    const QString server = QStringLiteral("127.0.0.1:%1").arg(s.port());
    QElapsedTimer t;
    t.start();
    qint32 result = -1;
    QString error;
    if (script.uidl) {
        const UidResult r = listUids(server, "alice", "secret", false, 10);
        result = r.failedIn == FetchResult::Stage::None ? r.count : -1;
        error = r.error;
    } else {
        Pop3Session session(mailSettings());
        QVERIFY(session.open(server));
        result = session.login("alice", "secret", false);
        error = session.error();
        session.close();
    }
    const qint64 ms = t.elapsed();
    qInfo("%s: %lld ms", QTest::currentDataTag(), ms);
    QCOMPARE(result, count);
    if (count < 0)
        QVERIFY2(error.contains(u"メール一覧の受信が3秒以内に終わりませんでした"),
                 qPrintable(error));
    QVERIFY2(ms <= mailLoginBoundMs(loginMs) + 800,
             qPrintable(QStringLiteral("took %1 ms").arg(ms)));
}

// The login that only looks for new mail keeps the same deadlines and a bounded memory.
void TestMaillibHostile::hostileUidList_data() {
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("count"); // -1: the login fails
    QTest::addColumn<int>("ids");
    QTest::addColumn<QString>("text");
    QTest::newRow("endless UIDL") << Fault::EndlessUidl << -1 << 0 << "メール一覧の受信が";
    QTest::newRow("huge STAT") << Fault::HugeStat << Pop3Session::kMaxMessages << 0 << "";
    QTest::newRow("UIDL skips a message") << Fault::UidlSkips << 12 << 0 << "";
    QTest::newRow("refused LIST does not matter") << Fault::ListRefused << 12 << 12 << "";
}

void TestMaillibHostile::hostileUidList() {
    QFETCH(Fault, fault);
    QFETCH(int, count);
    QFETCH(int, ids);
    QFETCH(QString, text);
    ScriptedPop3Server s({.uidl = true, .messages = messages(), .fault = fault, .faultMessage = 5});
    QVERIFY(resetPeakMemory());
    const qint64 baseKb = statusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    // Far more ids asked for than a server may make the library hold.
    const UidResult r =
        listUids(QStringLiteral("127.0.0.1:%1").arg(s.port()), "alice", "secret", false, 1000);
    const qint64 ms = t.elapsed();
    const qint64 grownKb = statusKb("VmHWM:") - baseKb;
    qInfo("%s: %lld ms, peak memory +%lld kB", QTest::currentDataTag(), ms, grownKb);
    QCOMPARE(r.failedIn == FetchResult::Stage::Login, count < 0);
    QVERIFY2(r.error.contains(text), qPrintable(r.error));
    if (count >= 0)
        QCOMPARE(r.count, count);
    QCOMPARE(r.uids.size(), ids);
    // The login's deadline grows by each id's time at the lowest rate; 12 messages here.
    const qint64 maxMs = kLoginDeadlineMs + 12 * Pop3Session::kUidlEntryBytes * 1000 / 2048 + 800;
    QVERIFY2(ms <= maxMs, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
    QVERIFY2(grownKb <= 2048, qPrintable(QStringLiteral("grew by %1 kB").arg(grownKb)));
}

void TestMaillibHostile::headerDecodingIsLinear_data() {
    QTest::addColumn<QByteArray>("unit");
    QTest::newRow("unending words with blanks") << QByteArray("=?UTF-8?B?a ");
    QTest::newRow("starts only") << QByteArray("=?");
    QTest::newRow("charset and encoding only") << QByteArray("=?x?B?");
    QTest::newRow("empty words, unknown charset") << QByteArray("=?x?B?"
                                                                "?=");
    QTest::newRow("words that decode") << QByteArray("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=");
}

void TestMaillibHostile::headerDecodingIsLinear() {
    QFETCH(QByteArray, unit);
    QByteArray small;
    while (small.size() < 64 * 1024)
        small += unit;
    const QByteArray large = small.repeated(10);
    const double smallMs = decodeMs(small);
    const double largeMs = decodeMs(large);
    qInfo("%s: 64 KB %.2f ms, 640 KB %.2f ms", QTest::currentDataTag(), smallMs, largeMs);
    QVERIFY(smallMs >= 0 && largeMs >= 0);
    QVERIFY2(smallMs < 50, qPrintable(QString::number(smallMs)));
    // Ten times the text takes about ten times as long; a quadratic decoder takes a hundred.
    QVERIFY2(largeMs < 30 * qMax(smallMs, 0.2),
             qPrintable(QStringLiteral("%1 ms, then %2 ms").arg(smallMs).arg(largeMs)));
}

QTEST_GUILESS_MAIN(TestMaillibHostile)
#include "tst_maillib_hostile.moc"
