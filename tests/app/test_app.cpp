// The wait, twips rounding, a window's load/unload rules when made at its first use, and where a
// copy of the program keeps its files.

#include "LazyWindow.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "ProgramWindow.h"
#include "Rounding.h"
#include "Twips.h"
#include "Wait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>
#include <sys/stat.h>
#include <time.h>

namespace {

// A clock that only moves when the pump lets time pass.
class FakeClock final : public Clock {
  public:
    qint64 nowMs() override { return value; }
    qint64 value = 0;
};

class FakePump final : public EventPump {
  public:
    explicit FakePump(FakeClock& c) : clock(c) {}
    void processPending() override { ++passes; }
    void idleFor(qint64 ms) override {
        ++idles;
        // Time passes in steps no longer than asked, so an off-by-one in the loop shows.
        clock.value += qMin<qint64>(ms, step);
        ++passes;
        if (idles > 100000)
            qFatal("wait never ended");
    }
    FakeClock& clock;
    qint64 step = 1000;
    int passes = 0;
    int idles = 0;
};

int loads = 0;
int unloads = 0;

class ProbeWindow : public ProgramWindow {
  public:
    explicit ProbeWindow(LazyWindow<ProbeWindow>& keeper) : m_keeper(keeper) {}
    void onLoad() override {
        ++loads;
        // A load that touches its own window must get itself, not a second copy.
        selfDuringLoad = m_keeper.get();
    }
    void onUnload() override { ++unloads; }
    bool canUnload() override { return !refuse; }
    ProbeWindow* selfDuringLoad = nullptr;
    bool refuse = false;

  private:
    LazyWindow<ProbeWindow>& m_keeper;
};

class SelfUnloadingWindow : public ProgramWindow {
  public:
    void onLoad() override { unload(); }
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT
  private slots:
    void waitLastsStrictlyLonger_data() {
        QTest::addColumn<qint32>("waitTime");
        QTest::addColumn<qint64>("startClock");
        QTest::addColumn<qint64>("step");
        QTest::addColumn<qint64>("minElapsed");
        QTest::newRow("zero waits at least 1 ms") << 0 << qint64(0) << qint64(1000) << qint64(1);
        QTest::newRow("1200 ms") << 1200 << qint64(5) << qint64(1000) << qint64(1201);
        QTest::newRow("1200 ms in 1 ms steps") << 1200 << qint64(5) << qint64(1) << qint64(1201);
        QTest::newRow("across 2^32 ms") << 1200 << qint64(0xFFFFFF00) << qint64(7) << qint64(1201);
    }
    void waitLastsStrictlyLonger() {
        QFETCH(qint32, waitTime);
        QFETCH(qint64, startClock);
        QFETCH(qint64, step);
        QFETCH(qint64, minElapsed);
        FakeClock clock;
        clock.value = startClock;
        FakePump pump(clock);
        pump.step = step;
        const qint32 asked = waitTime;
        waitMs(waitTime, clock, pump);
        const qint64 elapsed = clock.value - startClock;
        QVERIFY2(qint64(elapsed) >= minElapsed, qPrintable(QString::number(elapsed)));
        // It does not oversleep by more than one step.
        QVERIFY(qint64(elapsed) <= qint64(waitTime) + qMax<qint64>(step, 1));
        QVERIFY(pump.passes >= 1);
        QCOMPARE(waitTime, asked);
    }

    void negativeWaitIsOnePass() {
        FakeClock clock;
        FakePump pump(clock);
        waitMs(-5, clock, pump);
        QCOMPARE(pump.passes, 1);
        QCOMPARE(pump.idles, 0);
    }

    void realWaitSleepsInsteadOfSpinning() {
        // 300 ms of waiting must cost far less than 300 ms of processor time.
        // The process's processor time: clock() counts the wall clock on Windows.
        const auto cpuMsNow = [] {
            timespec ts{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
        };
        const double cpuBefore = cpuMsNow();
        QElapsedTimer wall;
        wall.start();
        int ticks = 0;
        QTimer t;
        connect(&t, &QTimer::timeout, this, [&] { ++ticks; });
        t.start(50);
        waitProcessingEvents(300);
        // The wait counts on a clock of its own; this one may read a whole millisecond less.
        QVERIFY(wall.elapsed() >= 300);
        QVERIFY2(ticks >= 4, "timers must run during the wait");
        const double cpuMs = cpuMsNow() - cpuBefore;
        QVERIFY2(cpuMs < 100, qPrintable(QString::number(cpuMs)));
    }

    void roundHalfEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("1.5") << 1.5 << 2;
        QTest::newRow("2.5") << 2.5 << 2;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("1799.4") << 1799.4 << 1799;
        QTest::newRow("1799.6") << 1799.6 << 1800;
        QTest::newRow("huge saturates") << 1e12 << qint32(0x7fffffff);
        QTest::newRow("nan") << std::nan("") << 0;
    }
    void roundHalfEven() {
        QFETCH(double, value);
        QFETCH(qint32, expected);
        QCOMPARE(::roundHalfEven(value), expected);
    }

    void loadsOnceAndAgainAfterUnload() {
        loads = unloads = 0;
        LazyWindow<ProbeWindow> probe([&probe] { return new ProbeWindow(probe); });
        QVERIFY(!probe.isLoaded());
        ProbeWindow* first = probe.get();
        QCOMPARE(loads, 1);
        QCOMPARE(first->selfDuringLoad, first);
        QVERIFY(!first->isVisible());
        QCOMPARE(probe.get(), first);
        QCOMPARE(loads, 1);

        first->refuse = true;
        QVERIFY(!probe.unload());
        QVERIFY(probe.isLoaded());
        first->refuse = false;

        QPointer<ProbeWindow> gone(first);
        QVERIFY(probe.unload());
        QCOMPARE(unloads, 1);
        QVERIFY(!probe.isLoaded());
        QTRY_VERIFY(gone.isNull());

        ProbeWindow* second = probe.get();
        QCOMPARE(loads, 2);
        QVERIFY(probe.isLoaded());
        second->showOrRaise();
        QVERIFY(second->isVisible());
        // The close box unloads as well.
        second->close();
        QCOMPARE(unloads, 2);
        QVERIFY(!probe.isLoaded());
    }

    void loadThatUnloadsLeavesNothingLoaded() {
        LazyWindow<SelfUnloadingWindow> window([] { return new SelfUnloadingWindow; });
        QCOMPARE(window.get(), nullptr);
        QVERIFY(!window.isLoaded());
    }

    void twipPositionsSurviveRounding() {
        LazyWindow<ProbeWindow> probe([&probe] { return new ProbeWindow(probe); });
        ProbeWindow* f = probe.get();
        f->setLeftTwips(1234.5f);
        f->setTopTwips(100.25f);
        // The exact values are kept, the native window stands at the nearest pixel.
        QCOMPARE(f->leftTwips(), 1234.5f);
        QCOMPARE(f->topTwips(), 100.25f);
        QCOMPARE(f->pos(), QPoint(Twips::toPixelsX(1234.5f), Twips::toPixelsY(100.25f)));
    }

    // A copy in a folder of its own keeps its files beside it and makes no folder; an installed
    // one keeps them in the user's own folders, made owner-only: on Linux the bin/ of an
    // installation, even one its user can write, and the XDG folders; on Windows a copy under
    // Program Files, and %APPDATA%. (A folder its user cannot write is tried end to end, as
    // another user than root.)
    void whereACopyKeepsItsFiles_data() {
        QTest::addColumn<QString>("bin"); // the executable's folder, under the test's folder
        QTest::addColumn<bool>("installed");
        // Variables set for the row; a value starting with "/" is under the test's folder.
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QString>("data"); // ★MailData, under the test's folder
        QTest::addColumn<QString>("settings");
#ifdef Q_OS_WIN
        // (APPDATA unset falls back to the real profile, which Qt finds without the variables.)
        const QStringList home{u"ProgramFiles=/Program Files"_qs};
        QTest::newRow("a folder of its own")
            << u"/bin"_qs << false << home + QStringList{u"APPDATA=/appdata"_qs}
            << u"/bin/★MailData"_qs << u"/work"_qs;
        QTest::newRow("under Program Files, APPDATA given")
            << u"/Program Files/Mokopon"_qs << true << home + QStringList{u"APPDATA=/appdata"_qs}
            << u"/appdata/Mokopon/★MailData"_qs << u"/appdata/Mokopon"_qs;
#else
        QTest::newRow("a folder of its own")
            << u"/bin"_qs << false
            << QStringList{u"HOME=/home"_qs, u"XDG_DATA_HOME=/data"_qs,
                           u"XDG_CONFIG_HOME=/config"_qs}
            << u"/bin/★MailData"_qs << u"/work"_qs;
        QTest::newRow("installed, XDG folders given")
            << u"/bin"_qs << true
            << QStringList{u"HOME=/home"_qs, u"XDG_DATA_HOME=/data"_qs,
                           u"XDG_CONFIG_HOME=/home/config"_qs}
            << u"/data/mokopon/★MailData"_qs << u"/home/config/mokopon"_qs;
        QTest::newRow("installed, XDG folders unset or relative: their defaults")
            << u"/bin"_qs << true
            << QStringList{u"HOME=/home"_qs, u"XDG_DATA_HOME="_qs,
                           u"XDG_CONFIG_HOME=relative/config"_qs}
            << u"/home/.local/share/mokopon/★MailData"_qs << u"/home/.config/mokopon"_qs;
#endif
    }
    void whereACopyKeepsItsFiles() {
        QFETCH(QString, bin);
        QFETCH(bool, installed);
        QFETCH(QStringList, variables);
        QFETCH(QString, data);
        QFETCH(QString, settings);
        QTemporaryDir dir;
        const QString root = dir.path();
        bin = root + bin;
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(root + QStringLiteral("/work")));
#ifdef Q_OS_WIN
        const QString resources = bin; // carried beside the executable in both
#else
        const QString resources =
            installed ? QDir::cleanPath(bin + QStringLiteral("/" MOKOPON_RESOURCES_FROM_BIN)) : bin;
        if (installed)
            QVERIFY(QDir().mkpath(resources));
#endif
        QList<std::pair<QByteArray, std::optional<QByteArray>>> saved;
        for (const QString& v : std::as_const(variables)) {
            const QByteArray name = v.section(u'=', 0, 0).toLocal8Bit();
            const QString value = v.section(u'=', 1);
            saved.append({name, qEnvironmentVariableIsSet(name.constData())
                                    ? std::optional(qgetenv(name.constData()))
                                    : std::nullopt});
            qputenv(name.constData(),
                    QFile::encodeName(value.startsWith(u'/') ? root + value : value));
        }
        const QString savedCwd = QDir::currentPath();
        Program::setFolder(bin);
        QDir::setCurrent(root + QStringLiteral("/work"));
        auto restore = qScopeGuard([&] {
            Program::setFolder(QString());
            QDir::setCurrent(savedCwd);
            for (const auto& [name, value] : std::as_const(saved)) {
                if (value)
                    qputenv(name.constData(), *value);
                else
                    qunsetenv(name.constData());
            }
        });

        QCOMPARE(ProgramFolders::installed(), installed);
        QCOMPARE(ProgramFolders::resources(), resources);
        QCOMPARE(ProgramFolders::mailData(), root + data);
        QCOMPARE(ProgramFolders::serverSettings(), root + settings);

        QVERIFY(ProgramFolders::createOwnFolders());
        QCOMPARE(QFileInfo::exists(root + data), installed);
        if (!installed)
            return;
#ifndef Q_OS_WIN // Qt 6.4 reads no access lists there
        // Every folder made, up to the test's own, is its owner's alone.
        for (const QString& made : {data, settings})
            for (QString p = made; p.count(u'/') > 1; p = p.section(u'/', 0, -2)) {
                struct stat st {};
                QCOMPARE(::stat(QFile::encodeName(root + p).constData(), &st), 0);
                QCOMPARE(st.st_mode & 0777, mode_t(0700));
            }
#endif
        // Made once; a second start finds them.
        QVERIFY(ProgramFolders::createOwnFolders());
    }
};

QTEST_MAIN(TestApp)
#include "test_app.moc"
