#include "DialUp.h"
#include "FakeNetworkManager.h"
#include "NetworkState.h"
#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

namespace {

const QString ActivePrefix = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/");

// "gsm", "gsm!" (deactivation refused), "bluetooth:dun" (settings say DUN), "bluetooth" (settings
// unreadable).
QList<FakeNetworkManager::Active> parseConnections(const QStringList& rows) {
    QList<FakeNetworkManager::Active> active;
    for (QString row : rows) {
        FakeNetworkManager::Active a;
        a.refuseDeactivation = row.endsWith(QLatin1Char('!'));
        if (a.refuseDeactivation)
            row.chop(1);
        a.type = row.section(QLatin1Char(':'), 0, 0);
        a.bluetoothKind = row.section(QLatin1Char(':'), 1);
        active.append(a);
    }
    return active;
}

// The calls block on D-Bus, so they run on a thread of their own while this thread keeps serving
// the fake. Returns how long it took in ms.
qint64 onOwnThread(const std::function<void()>& call) {
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QThread> thread(QThread::create(call));
    thread->start();
    while (!thread->wait(QDeadlineTimer(5)))
        QCoreApplication::processEvents();
    const qint64 elapsed = clock.elapsed();
    QCoreApplication::processEvents();
    return elapsed;
}

qint64 hangUp() {
    return onOwnThread(hangUpDialUpConnections);
}

} // namespace

class TestDialUpNm : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void hangsUpModemConnectionsInOrder_data();
    void hangsUpModemConnectionsInOrder();
    void networkManagerAbsentThenStarted();
    void unresponsiveNetworkManager_data();
    void unresponsiveNetworkManager();
    void busRestarted();
    void noSystemBus();
    void networkState_data();
    void networkState();

  private:
    PrivateBus m_bus;
    QDBusConnection m_fakeBus{QString()};
    QString m_activatedMarker;
};

void TestDialUpNm::initTestCase() {
    // Were NetworkManager activatable here, a call without care would start it: this one leaves a
    // mark instead.
    m_activatedMarker = m_bus.serviceDir() + QStringLiteral("/activated");
    QFile service(m_bus.serviceDir() + QStringLiteral("/org.freedesktop.NetworkManager.service"));
    QVERIFY(service.open(QIODevice::WriteOnly));
    service.write(QStringLiteral("[D-BUS Service]\nName=org.freedesktop.NetworkManager\n"
                                 "Exec=/usr/bin/touch %1\n")
                      .arg(m_activatedMarker)
                      .toUtf8());
    service.close();

    if (!m_bus.start())
        QFAIL(qPrintable(QStringLiteral("private dbus-daemon did not start: ") + m_bus.error()));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    m_fakeBus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("fake-nm"));
    QVERIFY2(m_fakeBus.isConnected(), qPrintable(m_fakeBus.lastError().message()));
}

void TestDialUpNm::hangsUpModemConnectionsInOrder_data() {
    QTest::addColumn<QStringList>("connections");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("none active") << QStringList() << QList<int>();
    QTest::newRow("two modems, first listed first")
        << QStringList{"gsm", "pppoe"} << QList<int>{0, 1};
    QTest::newRow("every modem kind")
        << QStringList{"ppp", "pppoe", "gsm", "cdma", "bluetooth:dun"} << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("network links left alone")
        << QStringList{"802-3-ethernet", "cdma", "802-11-wireless", "vpn", "wireguard",
                       "bridge",         "gsm",  "loopback"}
        << QList<int>{1, 6};
    QTest::newRow("bluetooth PAN left, DUN and unknown hung up")
        << QStringList{"bluetooth:panu", "bluetooth:dun", "bluetooth:nap", "bluetooth"}
        << QList<int>{1, 3};
    QTest::newRow("first refused, second still hung up")
        << QStringList{"gsm!", "802-3-ethernet", "ppp"} << QList<int>{0, 2};
}

void TestDialUpNm::hangsUpModemConnectionsInOrder() {
    QFETCH(QStringList, connections);
    QFETCH(QList<int>, expected);

    FakeNetworkManager nm(m_fakeBus, nullptr);
    nm.setActive(parseConnections(connections));
    QVERIFY(nm.start());
    hangUp();

    QStringList paths;
    for (int i : expected)
        paths.append(nm.activePath(i));
    QCOMPARE(nm.deactivated(), paths);
}

void TestDialUpNm::networkManagerAbsentThenStarted() {
    QVERIFY(!QFile::exists(m_activatedMarker));
    QVERIFY(hangUp() < 1000);
    // Give an activation, had there been one, time to leave its mark.
    QTest::qWait(300);
    QVERIFY2(!QFile::exists(m_activatedMarker), "the hang-up started NetworkManager");

    // A NetworkManager that comes up later is found: the absence is not remembered.
    FakeNetworkManager nm(m_fakeBus, nullptr);
    nm.setActive(parseConnections({"gsm"}));
    QVERIFY(nm.start());
    hangUp();
    QCOMPARE(nm.deactivated(), QStringList{nm.activePath(0)});
}

void TestDialUpNm::unresponsiveNetworkManager_data() {
    QTest::addColumn<QString>("silentUnder");
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("limitMs");

    QTest::newRow("whole service")
        << QStringLiteral("/org/freedesktop/NetworkManager") << 2 << 2000;
    // Each stuck read has its own timeout, but the hang-up as a whole stops after a few seconds.
    QTest::newRow("every connection object") << ActivePrefix << 8 << 3800;
}

void TestDialUpNm::unresponsiveNetworkManager() {
    QFETCH(QString, silentUnder);
    QFETCH(int, connections);
    QFETCH(int, limitMs);

    FakeNetworkManager nm(m_fakeBus, nullptr);
    nm.setActive(parseConnections(QStringList(connections, QStringLiteral("gsm"))));
    nm.setSilentUnder(silentUnder);
    QVERIFY(nm.start());
    const qint64 elapsed = hangUp();
    QVERIFY2(elapsed < limitMs, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
    QVERIFY(nm.deactivated().isEmpty());
}

void TestDialUpNm::busRestarted() {
    hangUp(); // connected before the restart
    QVERIFY2(m_bus.restart(), qPrintable(m_bus.error()));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-nm"));
    m_fakeBus = QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("fake-nm"));
    QVERIFY(m_fakeBus.isConnected());

    FakeNetworkManager nm(m_fakeBus, nullptr);
    nm.setActive(parseConnections({"cdma"}));
    QVERIFY(nm.start());
    hangUp();
    QCOMPARE(nm.deactivated(), QStringList{nm.activePath(0)});
}

void TestDialUpNm::noSystemBus() {
    // A process of its own: the bus address is read once per process.
    QTemporaryDir dir;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
    child.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hang-up-once")});
    QVERIFY(child.waitForFinished(10000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardError(), QByteArray());
}

// The automatic check asks before it connects, and only asks: nothing is hung up.
void TestDialUpNm::networkState_data() {
    QTest::addColumn<uint>("state"); // 0: no answer
    QTest::addColumn<QString>("silentUnder");
    QTest::addColumn<bool>("down");
    const QString none;
    QTest::newRow("asleep") << 10u << none << true;
    QTest::newRow("disconnected") << 20u << none << true;
    QTest::newRow("disconnecting") << 30u << none << true;
    QTest::newRow("connecting") << 40u << none << true;
    QTest::newRow("local network only") << 50u << none << false;
    QTest::newRow("connected") << 70u << none << false;
    QTest::newRow("no State answered") << 0u << none << false;
    QTest::newRow("hung daemon") << 20u << QStringLiteral("/org/freedesktop/NetworkManager")
                                 << false;
}

void TestDialUpNm::networkState() {
    QFETCH(uint, state);
    QFETCH(QString, silentUnder);
    QFETCH(bool, down);
    FakeNetworkManager nm(m_fakeBus, nullptr);
    nm.setActive(parseConnections({"gsm"}));
    nm.setState(state);
    nm.setSilentUnder(silentUnder);
    QVERIFY(nm.start());
    bool answer = !down;
    const qint64 ms = onOwnThread([&answer] { answer = networkKnownDown(); });
    QCOMPARE(answer, down);
    QVERIFY2(ms < 2000, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
    if (silentUnder.isEmpty())
        QCOMPARE(nm.propertiesAsked(),
                 QStringList{QStringLiteral("org.freedesktop.NetworkManager.State")});
    QVERIFY(nm.deactivated().isEmpty());
}

int main(int argc, char** argv) {
    if (argc == 2 && qstrcmp(argv[1], "--hang-up-once") == 0) {
        QCoreApplication app(argc, argv);
        hangUpDialUpConnections();
        return 0;
    }
    // Until the private bus is up, point the system bus nowhere: a test must never hang up the
    // machine's real connections.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/mokopon-dialup-test");
    QCoreApplication app(argc, argv);
    TestDialUpNm test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_dialup_nm.moc"
