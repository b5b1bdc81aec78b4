// The automatic check's parts without a server: when checks fall due (a fake clock), what counts
// as new mail and how the seen ids are kept, and the check's flow over a fake mail session: quiet
// failures, a check by hand that comes in between, and the two never running at once.

#include "AutoCheck.h"
#include "BackgroundWork.h"
#include "CheckScheduler.h"
#include "MailSession.h"
#include "SeenMail.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class FakeClock final : public Clock {
  public:
    qint64 now = 0;
    qint64 nowMs() override { return now; }
};

constexpr qint64 kMinute = 60000;

// "3:a,b,c" is a mailbox of 3 whose ids are a, b, c; "3" one of 3 without ids; "-" none.
std::optional<SeenMail::Mailbox> mailbox(const QString& text) {
    if (text == u"-")
        return std::nullopt;
    SeenMail::Mailbox m;
    m.count = text.section(u':', 0, 0).toInt();
    m.idsKnown = text.contains(u':');
    m.ids = text.section(u':', 1).split(u',', Qt::SkipEmptyParts);
    return m;
}

// "4:1:a,b,c,d": 4 messages, the ids from message 1 on; "4": no ids.
MailboxListing listing(const QString& text) {
    MailboxListing l;
    l.count = text.section(u':', 0, 0).toInt();
    l.idsKnown = text.contains(u':');
    l.firstNumber = l.idsKnown ? text.section(u':', 1, 1).toInt() : 0;
    l.ids = text.section(u':', 2).split(u',', Qt::SkipEmptyParts);
    return l;
}

const AutoCheck::Request kRequest{QStringLiteral("pop.example.jp"), QStringLiteral("alice"),
                                  QStringLiteral("secret"), false};

} // namespace

class TestAutoCheck : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString seenFile() const { return m_dir.filePath(QStringLiteral("seen-uidl.txt")); }

    // A mail session whose checks each take the next of results (the last one again when they
    // run out): a listing ("2:1:a,b"), "offline", "no connect" or "no login"; a minute is 100 ms.
    struct Rig final : MailSession {
        QStringList results;
        QAtomicInt probes = 0;
        std::function<void()> whileChecking; // on the background thread, as a check begins
        QString current;
        std::optional<AutoCheck::Request> request = kRequest;
        AutoCheck check;
        QSignalSpy newMail{&check, &AutoCheck::newMail};
        QSignalSpy failed{&check, &AutoCheck::failed};

        explicit Rig(const QString& seen)
            : check([this] { return request; }, seen, *this, nullptr, steadyClock(),
                    [this] { return begin() == u"offline"; }) {}
        QString begin() {
            if (whileChecking)
                whileChecking();
            current = results.value(qMin<qsizetype>(probes, results.size() - 1));
            probes.fetchAndAddOrdered(1);
            return current;
        }
        MailResult<> open(const QString&) override {
            return current == u"no connect" ? MailResult<>::failed(u"failed"_qs)
                                            : MailResult<>{std::monostate()};
        }
        MailResult<MailUidListing> loginListingUids(const QString&, const QString&, bool,
                                                    qint32) override {
            if (current == u"no login")
                return MailResult<MailUidListing>::failed(u"failed"_qs);
            const MailboxListing l = listing(current);
            return {MailUidListing{l.count, l.idsKnown, l.firstNumber, l.ids}};
        }
        // A check that only looks calls nothing else.
        MailResult<qint32> login(const QString&, const QString&, bool) override { return {}; }
        MailResult<MailHeaderFields> header(qint32) override { return {}; }
        qint32 size(qint32) override { return 0; }
        MailResult<MailMessage> fetch(qint32) override { return {}; }
        void close() override {}

        // Waits for the next check to have been taken in.
        bool nextCheck(int timeoutMs = 3000) {
            const int before = probes;
            return QTest::qWaitFor([&] { return probes > before && !check.isRunning(); },
                                   timeoutMs);
        }
    };

  private slots:
    void initTestCase() {
        qputenv("MOKOPON_TEST_MINUTE_MS", "100");
        QVERIFY(m_dir.isValid());
    }
    void init() { QFile::remove(seenFile()); }

    void scheduler_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<qint64>>("due"); // msUntilDue after each step
        QTest::newRow("off at first") << QStringList{"t 0"} << QList<qint64>{-1};
        QTest::newRow("a minute after turning on, then every interval")
            << QStringList{"interval 5", "t 60000", "started", "t 61000", "finished", "t 200000"}
            << QList<qint64>{kMinute, 0, -1, -1, 5 * kMinute, 161000};
        QTest::newRow("the same interval again changes nothing")
            << QStringList{"interval 5", "t 30000", "interval 5"}
            << QList<qint64>{kMinute, 30000, 30000};
        QTest::newRow("a new interval starts afresh")
            << QStringList{"interval 5", "t 30000", "interval 10"}
            << QList<qint64>{kMinute, 30000, kMinute};
        QTest::newRow("a check that could not run: again a minute later")
            << QStringList{"interval 30", "t 60000", "started", "postponed"}
            << QList<qint64>{kMinute, 0, -1, kMinute};
        QTest::newRow("a new interval during a check counts from its end")
            << QStringList{"interval 5", "t 60000", "started", "interval 10", "finished"}
            << QList<qint64>{kMinute, 0, -1, -1, 10 * kMinute};
        QTest::newRow("turned off during a check")
            << QStringList{"interval 2", "started", "interval 0", "finished"}
            << QList<qint64>{kMinute, -1, -1, -1};
        QTest::newRow("outside 1..1440 is off")
            << QStringList{"interval 1441", "interval -5", "interval 1440", "finished"}
            << QList<qint64>{-1, -1, kMinute, 1440 * kMinute};
        QTest::newRow("a late timer finds it due")
            << QStringList{"interval 1", "t 500000"} << QList<qint64>{kMinute, 0};
    }

    void scheduler() {
        QFETCH(QStringList, steps);
        QFETCH(QList<qint64>, due);
        FakeClock clock;
        CheckScheduler s(clock, kMinute);
        QList<qint64> got;
        for (const QString& step : steps) {
            const QString verb = step.section(u' ', 0, 0);
            const qint64 value = step.section(u' ', 1).toLongLong();
            if (verb == u"t")
                clock.now = value;
            else if (verb == u"interval")
                s.setInterval(qint32(value));
            else if (verb == u"started")
                s.started();
            else if (verb == u"finished")
                s.finished();
            else if (verb == u"postponed")
                s.postponed();
            got << s.msUntilDue();
        }
        QCOMPARE(got, due);
    }

    void minuteLength_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("unset") << QByteArray() << kMinute;
        QTest::newRow("shortened") << QByteArray("2500") << qint64(2500);
        QTest::newRow("too short") << QByteArray("99") << kMinute;
        QTest::newRow("longer than a minute") << QByteArray("60001") << kMinute;
        QTest::newRow("not a number") << QByteArray("soon") << kMinute;
    }

    void minuteLength() {
        QFETCH(QByteArray, variable);
        QFETCH(qint64, ms);
        const QByteArray saved = qgetenv("MOKOPON_TEST_MINUTE_MS");
        if (variable.isNull())
            qunsetenv("MOKOPON_TEST_MINUTE_MS");
        else
            qputenv("MOKOPON_TEST_MINUTE_MS", variable);
        const qint64 got = CheckScheduler::minuteMs();
        qputenv("MOKOPON_TEST_MINUTE_MS", saved);
        QCOMPARE(got, ms);
    }

    void newMail_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("now");
        QTest::addColumn<bool>("fresh");
        QTest::newRow("never checked, mail waits") << "-"
                                                   << "3:1:a,b,c" << true;
        QTest::newRow("never checked, empty") << "-"
                                              << "0:1:" << false;
        QTest::newRow("never checked, no UIDL") << "-"
                                                << "2" << true;
        QTest::newRow("nothing new") << "3:a,b,c"
                                     << "3:1:a,b,c" << false;
        QTest::newRow("one delivered") << "3:a,b,c"
                                       << "4:1:a,b,c,d" << true;
        QTest::newRow("one deleted elsewhere") << "3:a,b,c"
                                               << "2:1:a,c" << false;
        QTest::newRow("one deleted, one delivered") << "3:a,b,c"
                                                    << "3:1:b,c,d" << true;
        QTest::newRow("old mail comes into the kept window") << "3:c,d,e"
                                                             << "5:1:a,b,c,d,e" << false;
        QTest::newRow("the same, and one delivered") << "3:c,d,e"
                                                     << "6:1:a,b,c,d,e,f" << true;
        QTest::newRow("every id changed") << "2:a,b"
                                          << "2:1:x,y" << true;
        QTest::newRow("emptied") << "2:a,b"
                                 << "0:1:" << false;
        QTest::newRow("empty before") << "0:"
                                      << "1:1:a" << true;
        QTest::newRow("no UIDL, count went up") << "3"
                                                << "4" << true;
        QTest::newRow("no UIDL, same count") << "3"
                                             << "3" << false;
        QTest::newRow("no UIDL, count went down") << "3"
                                                  << "2" << false;
        QTest::newRow("UIDL gone, count went up") << "3:a,b,c"
                                                  << "4" << true;
        QTest::newRow("UIDL new, same count") << "3"
                                              << "3:1:a,b,c" << false;
    }

    void newMail() {
        QFETCH(QString, before);
        QFETCH(QString, now);
        QFETCH(bool, fresh);
        QCOMPARE(SeenMail::hasNew(mailbox(before), listing(now)), fresh);
    }

    // What is seen is kept per account, in a bounded file readable by its owner only.
    void seenFileKeepsAccountsApart() {
        SeenMail seen(seenFile());
        const QString alice =
            SeenMail::account(QStringLiteral("alice"), QStringLiteral("POP.x"), 110);
        const QString bob =
            SeenMail::account(QStringLiteral("bob@x"), QStringLiteral("pop.x"), 110);
        QCOMPARE(alice, QStringLiteral("alice@pop.x:110"));
        QCOMPARE(bob, QStringLiteral("bob%40x@pop.x:110"));
        QVERIFY(seen.takeNew(alice, listing("2:1:a,b")));
        QVERIFY(!seen.takeNew(alice, listing("2:1:a,b")));
        QVERIFY(seen.takeNew(bob, listing("2:1:a,b")));
        QVERIFY(seen.takeNew(alice, listing("3:1:a,b,c")));
        QVERIFY(!SeenMail(seenFile()).takeNew(bob, listing("1:1:b")));
#ifndef Q_OS_WIN // Qt 6.4 reads no access lists there
        const QFileDevice::Permissions mode = QFileInfo(seenFile()).permissions();
        QCOMPARE(mode & 0x0077, QFileDevice::Permissions());
        QVERIFY(mode.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
#endif
        // The most recent account comes first.
        QFile f(seenFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("A bob%40x@pop.x:110\nN 1 1\nU b\n"
                                         "A alice@pop.x:110\nN 3 1\nU a\nU b\nU c\n"));
    }

    void seenFileIsBounded() {
        SeenMail seen(seenFile());
        for (int i = 0; i <= SeenMail::kMaxAccounts; ++i)
            seen.takeNew(SeenMail::account(QStringLiteral("user%1").arg(i), u"h"_qs, 110),
                         listing("1:1:a"));
        // The account checked longest ago is forgotten: its mail counts as new again.
        QVERIFY(!seen.seen(SeenMail::account(u"user0"_qs, u"h"_qs, 110)));
        QVERIFY(seen.seen(SeenMail::account(u"user1"_qs, u"h"_qs, 110)));

        MailboxListing big;
        big.idsKnown = true;
        big.count = SeenMail::kMaxIds + 10;
        big.firstNumber = 1;
        for (int n = 1; n <= big.count; ++n)
            big.ids << QStringLiteral("id-%1-").arg(n) + QString(60, u'x');
        const QString account = SeenMail::account(u"many"_qs, u"h"_qs, 110);
        QVERIFY(seen.takeNew(account, big));
        const auto kept = seen.seen(account);
        QVERIFY(kept);
        QCOMPARE(kept->ids.size(), SeenMail::kMaxIds);
        QCOMPARE(kept->ids.first(), big.ids[10]);
        QVERIFY(QFileInfo(seenFile()).size() < SeenMail::kFileCap);
        // The ids left out are older than every one kept: they are not new the next time.
        QVERIFY(!seen.takeNew(account, big));
    }

    void seenFileFromStrangers_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("kept"); // what is read for the account "a@h:110"
        QTest::newRow("CR LF and junk lines")
            << QByteArray("junk\r\nA a@h:110\r\nN 2 1\r\nX y\r\nU one\r\nU two\r\n") << "2:one,two";
        QTest::newRow("ids that are no ids")
            << QByteArray("A a@h:110\nN 3 1\nU ok\nU has blank\nU " + QByteArray(71, 'x') +
                          "\nU \xe3\x81\x82\n")
            << "3:ok";
        QTest::newRow("negative count") << QByteArray("A a@h:110\nN -4 0\n") << "0";
        QTest::newRow("lines before any account") << QByteArray("U a\nN 5 1\n") << "-";
        QTest::newRow("larger than the cap")
            << QByteArray("A a@h:110\nN 1 0\n") + QByteArray(SeenMail::kFileCap, '\n') << "-";
    }

    void seenFileFromStrangers() {
        QFETCH(QByteArray, file);
        QFETCH(QString, kept);
        QFile f(seenFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
        f.close();
        const auto m = SeenMail(seenFile()).seen(QStringLiteral("a@h:110"));
        const auto want = mailbox(kept);
        QCOMPARE(m.has_value(), want.has_value());
        if (m) {
            QCOMPARE(m->count, want->count);
            QCOMPARE(m->idsKnown, want->idsKnown);
            QCOMPARE(m->ids, want->ids);
        }
    }

    void seenWithoutDataFolder() {
        const QString path = m_dir.filePath(QStringLiteral("missing/seen-uidl.txt"));
        SeenMail seen(path);
        QVERIFY(seen.takeNew(u"a@h:110"_qs, listing("1:1:a")));
        QVERIFY(seen.takeNew(u"a@h:110"_qs, listing("1:1:a")));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("missing"))));
    }

    // The first failure is shown, later ones are not, until a check succeeds or one is made by
    // hand; mail is reported only when new.
    void failuresAreQuietAfterTheFirst() {
        Rig rig(seenFile());
        rig.results = {"no connect", "no login", "no connect", "2:1:a,b",
                       "2:1:a,b",    "no login", "no login",   "3:1:a,b,c"};
        rig.check.setInterval(1);
        QList<int> failedAt, newAt;
        for (int n = 0; n < 7; ++n) {
            if (n == 6) {
                // A check by hand between: the next failure shows again.
                rig.check.manualCheck(true);
                rig.check.manualCheck(false);
            }
            QVERIFY2(rig.nextCheck(), qPrintable(QStringLiteral("check %1").arg(n)));
            if (rig.failed.size() > failedAt.size())
                failedAt << n;
            if (rig.newMail.size() > newAt.size())
                newAt << n;
        }
        QCOMPARE(failedAt, (QList<int>{0, 5, 6}));
        QCOMPARE(newAt, QList<int>{3});
        QCOMPARE(rig.newMail.first().first().toInt(), 2);
        QCOMPARE(rig.failed.first().value(1).toBool(), true);
        QCOMPARE(rig.failed.last().value(1).toBool(), false);
    }

    void nothingToCheckOrOffline() {
        Rig rig(seenFile());
        rig.request.reset();
        rig.results = {"1:1:a"};
        rig.check.setInterval(1);
        QTest::qWait(350);
        QCOMPARE(rig.probes.loadRelaxed(), 0);

        rig.request = kRequest;
        rig.results = {"offline"};
        QVERIFY(rig.nextCheck());
        QVERIFY(rig.nextCheck()); // tried again a minute later
        QCOMPARE(rig.failed.size(), 0);
        QCOMPARE(rig.newMail.size(), 0);
        QVERIFY(!QFileInfo::exists(seenFile()));
        rig.check.setInterval(0);
        const int probes = rig.probes;
        QTest::qWait(350);
        QCOMPARE(rig.probes.loadRelaxed(), probes);
    }

    // A check by hand that begins during an automatic one waits for it on the background thread;
    // the automatic one then reports nothing but remembers what it saw.
    void checkByHandWaitsAndTakesOver() {
        Rig rig(seenFile());
        QSemaphore entered, release;
        QMutex orderLock;
        QStringList order;
        rig.results = {"2:1:a,b"};
        rig.whileChecking = [&] {
            entered.release();
            release.acquire();
            QMutexLocker lock(&orderLock);
            order << QStringLiteral("automatic");
        };
        rig.check.setInterval(1);
        QVERIFY(QTest::qWaitFor([&] { return entered.available() > 0; }, 3000));
        QVERIFY(rig.check.isRunning());
        rig.check.manualCheck(true);
        QTimer::singleShot(200, [&] { release.release(); });
        QElapsedTimer clock;
        clock.start();
        runInBackground([&] {
            QMutexLocker lock(&orderLock);
            order << QStringLiteral("by hand");
        });
        QVERIFY(clock.elapsed() >= 150);
        QCOMPARE(order, (QStringList{"automatic", "by hand"}));
        QVERIFY(QTest::qWaitFor([&] { return !rig.check.isRunning(); }, 3000));
        rig.check.manualCheck(false);
        QCOMPARE(rig.newMail.size(), 0);
        const auto seen = SeenMail(seenFile()).seen(QStringLiteral("alice@pop.example.jp:110"));
        QVERIFY(seen);
        QCOMPARE(seen->ids, (QStringList{"a", "b"}));
    }
};

QTEST_GUILESS_MAIN(TestAutoCheck)
#include "test_autocheck.moc"
