// The real program checks on its own at INTERVAL=1, a minute shortened for the test: against a
// real Dovecot it barks only for mail it has not seen and reads nothing; a server without UIDL;
// a server that fails; no network; the mouse during a check. The fake NetworkManager answers
// from this thread's event loop, and Desktop's waits keep processing events.

#include "CourierServer.h"
#include "DovecotServer.h"
#include "E2e.h"
#include "FakeNetworkManager.h"
#include "PrivateBus.h"
#include "ScriptedPop3Server.h"

#include <QDBusConnection>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace e2e;

namespace {

// The test's minute: checks come every 1.5 s, the first 1.5 s after the start.
constexpr int kMinuteMs = 1500;

QByteArray sampleMessage(int n) {
    return "From: sender@example.jp\r\nTo: alice@example.jp\r\nSubject: number " +
           QByteArray::number(n) + "\r\n\r\nbody " + QByteArray::number(n) + "\r\n";
}

// A server that is there but drops every connection at once, counting them.
class DroppingServer : public QTcpServer {
  public:
    DroppingServer() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                ++connections;
                s->abort();
                s->deleteLater();
            }
        });
    }
    int connections = 0;
};

} // namespace

class TestE2eAutoCheck : public QObject {
    Q_OBJECT
    Desktop d;
    DovecotServer dovecot;
    PrivateBus bus;
    QDBusConnection fakeBus{QString()};
    QTemporaryDir config; // the program's XDG_CONFIG_HOME
    QProcess* program = nullptr;

    QString dataFile(const QString& name) const {
        return d.programFolder() + QStringLiteral("/★MailData/") + name;
    }

    // Settings for checks every minute; hangUp 1 asks for a hang-up after every check by hand.
    void writeSettings(const QString& pop3, int hangUp = 0) {
        writeMailSettings(d, pop3, QStringLiteral("secret"),
                          "NUMBER=" + QByteArray::number(hangUp) + "\r\nINTERVAL=1\r\n");
    }

    // Starts the program and returns its character.
    QString start() {
        QProcessEnvironment env = mailEnvironment(d, bus);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("MOKOPON_TEST_MINUTE_MS"), QString::number(kMinuteMs));
        program = launchAt(d, QPoint(150, 100), QString(), env);
        return d.waitForWindow(kCharacterTitle);
    }

    // The sessions Dovecot logged out, as "retr=R/B del=D".
    QStringList logouts() const {
        QStringList found;
        const QRegularExpression re(
            QStringLiteral("pop3\\(alice\\).*Logged out .*(retr=\\d+/\\d+).*(del=\\d+)"));
        for (auto m = re.globalMatch(QString::fromUtf8(dovecot.log())); m.hasNext();) {
            const auto match = m.next();
            found << match.captured(1) + u' ' + match.captured(2);
        }
        return found;
    }

    // The notice says mail waits with count, the companion stands in and barks.
    void verifyBark(const QString& count) {
        const QString notice = d.waitForWindow(kNoticeTitle, 10000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY2(!d.waitForWindow(kCompanionTitle, 5000).isEmpty(), "no companion");
        QVERIFY(waitUntil([&] { return d.findWindows(kCharacterTitle).isEmpty(); }, 3000));
        QVERIFY2(barkHeard(d, 5000), "no sound reached the sound server");
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), count);
        QCOMPARE(noticeText(d, notice, kNoticeMessageBox), kMailWaiting);
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
    }

    // Closes the notice and the panel, as the user does to quiet the companion.
    void closeNoticeAndPanel() {
        for (const QString& title : {kNoticeTitle, kPanelTitle}) {
            for (const QString& id : d.findWindows(title)) {
                d.activate(id);
                d.key(QStringLiteral("alt+F4"));
            }
            QVERIFY2(d.waitGone(title), qPrintable(title));
        }
        QVERIFY(!d.waitForWindow(kCharacterTitle, 3000).isEmpty());
        QVERIFY(waitUntil([&] { return d.findWindows(kCompanionTitle).isEmpty(); }, 3000));
    }

    // Nothing of a check shows: no notice, panel, companion, box or bark.
    void verifyNothingShows() {
        QVERIFY(!barkHeard(d, 2500));
        QVERIFY(d.findWindows(kNoticeTitle).isEmpty());
        QVERIFY(d.findWindows(kPanelTitle).isEmpty());
        QVERIFY(d.findWindows(kCompanionTitle).isEmpty());
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
        QCOMPARE(d.findWindows(kCharacterTitle).size(), 1);
    }

  private slots:
    void initTestCase() { startMailServices(d, dovecot, bus, fakeBus); }

    void init() {
        QVERIFY(dovecot.clearMailbox("alice"));
        QFile::remove(dataFile(QStringLiteral("seen-uidl.txt")));
    }

    void cleanup() { endProgram(d, program); }

    // Three messages bark; a check with nothing new shows nothing; one delivered barks again.
    // The checks read nothing, and never hang up although the hang-up setting is on.
    void barksOnlyForNewMail() {
        FakeNetworkManager nm(fakeBus, nullptr);
        FakeNetworkManager::Active ppp;
        ppp.type = QStringLiteral("ppp");
        nm.setActive({ppp});
        nm.setState(70); // connected
        QVERIFY(nm.start());
        for (int n = 1; n <= 3; ++n)
            QVERIFY(dovecot.addMessage("alice", sampleMessage(n)));
        writeSettings(localServer(dovecot.pop3Port()), 1);
        const qsizetype before = logouts().size();
        QVERIFY(!start().isEmpty());

        verifyBark(QStringLiteral("3"));
        d.saveScreenshot(shotPath(QStringLiteral("autocheck-1-new-mail.png")));
        closeNoticeAndPanel();

        // The next check finds the same three: nothing shows.
        const qsizetype seen = logouts().size();
        QVERIFY(waitUntil([&] { return logouts().size() > seen; }, 10000));
        verifyNothingShows();
        d.saveScreenshot(shotPath(QStringLiteral("autocheck-2-nothing-new.png")));

        QVERIFY(dovecot.addMessage("alice", sampleMessage(4)));
        verifyBark(QStringLiteral("4"));

        const QStringList sessions = logouts().mid(before);
        QVERIFY2(sessions.size() >= 3, qPrintable(sessions.join(u", ")));
        for (const QString& s : sessions)
            QVERIFY2(s == u"retr=0/0 del=0", qPrintable(s));
        QVERIFY(nm.deactivated().isEmpty());
        QVERIFY(nm.propertiesAsked().contains(u"org.freedesktop.NetworkManager.State"_qs));

        // The ids seen, in a file of the program's own that only its owner reads.
        const QString seenFile = dataFile(QStringLiteral("seen-uidl.txt"));
        QFile f(seenFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray kept = f.readAll();
        QCOMPARE(kept.count("\nU "), 4);
        QVERIFY2(kept.startsWith("A alice@127.0.0.1:" + QByteArray::number(dovecot.pop3Port()) +
                                 "\nN 4 1\n"),
                 kept.constData());
        QCOMPARE(QFileInfo(seenFile).permissions() & 0x0077, QFileDevice::Permissions());
    }

    // Courier hands the session to a new process at login: the look still counts and lists,
    // and reads nothing.
    void courierBarks() {
        CourierServer courier;
        QVERIFY2(courier.start(), qPrintable(courier.errorString()));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(courier.addMessage(sampleMessage(n)));
        writeSettings(localServer(courier.pop3Port()));
        QVERIFY(!start().isEmpty());
        verifyBark(QStringLiteral("3"));
        // The bark comes after the count; the server logs the session's end after our QUIT.
        QStringList logouts;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(logouts = QString::fromUtf8(courier.log()).split(u'\n').filter(u"LOGOUT, user=alice"))
                 .isEmpty(),
            10000);
        for (const QString& l : logouts)
            QVERIFY2(l.contains(u"retr=0,"), qPrintable(l));
    }

    // Without UIDL the count decides: two messages bark once, the same two again do not.
    void serverWithoutUidl() {
        ScriptedPop3Server server(
            {.uidl = false, .messages = {sampleMessage(1), sampleMessage(2)}});
        writeSettings(localServer(server.port()));
        QVERIFY(!start().isEmpty());
        verifyBark(QStringLiteral("2"));
        closeNoticeAndPanel();
        const int connections = server.connections();
        QVERIFY(waitUntil([&] { return server.connectionsClosed() > connections; }, 10000));
        verifyNothingShows();
        const QList<QByteArray> sent = server.commands();
        QVERIFY(sent.contains("UIDL"));
        for (const QByteArray& command : sent)
            QVERIFY2(!command.startsWith("RETR") && !command.startsWith("LIST") &&
                         !command.startsWith("DELE"),
                     command.constData());
    }

    // A server that drops every connection: one box, then quiet, while the box is open and
    // after it is closed.
    void failingServerShowsOneBox() {
        DroppingServer server;
        writeSettings(localServer(server.serverPort()));
        QVERIFY(!start().isEmpty());
        const QString box = d.waitForWindow(kErrorTitle, 10000);
        QVERIFY2(!box.isEmpty(), "no error box");
        d.saveScreenshot(shotPath(QStringLiteral("autocheck-3-error.png")));
        int tries = server.connections;
        QVERIFY(waitUntil([&] { return server.connections >= tries + 2; }, 10000));
        QCOMPARE(d.findWindows(kErrorTitle).size(), 1);
        d.activate(box);
        d.key(QStringLiteral("Return"));
        QVERIFY(d.waitGone(kErrorTitle));
        tries = server.connections;
        QVERIFY(waitUntil([&] { return server.connections >= tries + 2; }, 10000));
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
        QVERIFY(d.findWindows(kNoticeTitle).isEmpty());
    }

    // While NetworkManager reports no connection nothing is tried; once it is connected the
    // check runs.
    void skippedWhileOffline() {
        FakeNetworkManager nm(fakeBus, nullptr);
        nm.setState(20); // disconnected
        QVERIFY(nm.start());
        QVERIFY(dovecot.addMessage("alice", sampleMessage(1)));
        writeSettings(localServer(dovecot.pop3Port()));
        const QByteArray logBefore = dovecot.log();
        QVERIFY(!start().isEmpty());
        QVERIFY(waitUntil([&] { return nm.propertiesAsked().size() >= 2; }, 10000));
        QVERIFY(d.findWindows(kNoticeTitle).isEmpty());
        QVERIFY2(!dovecot.log().mid(logBefore.size()).contains("pop3-login"),
                 dovecot.log().mid(logBefore.size()).constData());
        nm.setState(70);
        verifyBark(QStringLiteral("1"));
    }

    // During a check that waits on a silent server the puppy answers the mouse: a double click
    // opens the panel, and a right click ends the program at once.
    void mouseDuringACheck() {
        ScriptedPop3Server server(
            {.messages = {sampleMessage(1)}, .fault = ScriptedPop3Server::Fault::SilentGreeting});
        writeSettings(localServer(server.port()));
        const QString character = start();
        QVERIFY(!character.isEmpty());
        QVERIFY(waitForOutline(d, character));
        QVERIFY(waitUntil([&] { return server.connections() > 0; }, 10000));
        QVERIFY2(!openPanel(d, character).isEmpty(), "the double click did nothing");
        const QPoint on = d.info(d.waitForWindow(kCharacterTitle)).geometry.topLeft() + kOnFigure;
        QCOMPARE(server.connectionsClosed(), 0); // still waiting for the greeting
        verifyRightClickEndsProgram(d, program, on);
    }
};

QTEST_GUILESS_MAIN(TestE2eAutoCheck)
#include "test_e2e_autocheck.moc"
