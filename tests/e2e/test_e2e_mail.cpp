// The real program checks a real Dovecot on 127.0.0.1 from its panel: the notice, the companion,
// the error boxes, and the hang-up against a fake NetworkManager on a private D-Bus.
//
// The fake answers from this thread's event loop; Desktop's waits keep processing events.

#include "CourierServer.h"
#include "DovecotServer.h"
#include "E2e.h"
#include "FakeNetworkManager.h"
#include "PrivateBus.h"
#include "ScriptedPop3Server.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

using namespace e2e;

namespace {

const QSize kNoticeClient(242, 18);

QByteArray sampleMessage(int n, const QByteArray& encodedSubject) {
    return "From: =?UTF-8?B?5bCP5p6X?= <kobayashi@example.jp>\r\n"
           "To: alice@example.jp\r\n"
           "Subject: " +
           encodedSubject +
           "\r\n"
           "Date: Mon, 1 Jul 2024 09:0" +
           QByteArray::number(n) +
           ":00 +0900\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n"
           "\r\n" +
           QStringLiteral("こんにちは。メール %1 通目です。\r\n").arg(n).toUtf8();
}

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

class TestE2eMail : public QObject {
    Q_OBJECT
    Desktop d;
    DovecotServer dovecot;
    // Answers a plain connection with a TLS record, as a port that wants TLS first may.
    ScriptedPop3Server tlsGreeter{
        {.messages = {}, .fault = ScriptedPop3Server::Fault::TlsGreeting}};
    PrivateBus bus;
    QDBusConnection fakeBus{QString()};
    QProcess* program = nullptr;
    qsizetype logMark = 0;

    void shoot(const QString& name) const { d.saveScreenshot(shotPath(name)); }

    void writeSettings(const QString& pop3, const QString& password, int hangUp) {
        writeMailSettings(d, pop3, password, "NUMBER=" + QByteArray::number(hangUp) + "\r\n");
    }

    // Starts the program with the character at `at`, double-clicks it and returns the panel.
    QString startAndOpenPanel(QPoint at = QPoint(150, 100), const QString& firstShot = QString()) {
        program = launchAt(d, at, QString(), mailEnvironment(d, bus));
        const QString character = d.waitForWindow(kCharacterTitle);
        if (character.isEmpty())
            return {};
        if (!firstShot.isEmpty())
            shoot(firstShot);
        return openPanel(d, character);
    }

    void clickReceive(const QString& panel) const {
        d.click(d.info(panel).geometry.topLeft() + panelButton(PanelButton::Check));
    }

    QByteArray newLog() const { return dovecot.log().mid(logMark); }
    // The "retr=N/bytes" figure of each logout since the mark.
    QList<int> retrievedPerLogout() const {
        QList<int> counts;
        const QRegularExpression re(QStringLiteral("pop3\\(alice\\).*Logged out .*retr=(\\d+)/"));
        for (auto m = re.globalMatch(QString::fromUtf8(newLog())); m.hasNext();)
            counts << m.next().captured(1).toInt();
        return counts;
    }

    void addThreeMessages() {
        // 会議のお知らせ, 週末の予定, 写真を送ります
        QVERIFY(dovecot.addMessage("alice",
                                   sampleMessage(1, "=?UTF-8?B?5Lya6K2w44Gu44GK55+l44KJ44Gb?=")));
        QVERIFY(dovecot.addMessage("alice", sampleMessage(2, "=?UTF-8?B?6YCx5pyr44Gu5LqI5a6a?=")));
        QVERIFY(dovecot.addMessage("alice",
                                   sampleMessage(3, "=?UTF-8?B?5YaZ55yf44KS6YCB44KK44G+44GZ?=")));
    }

    // The notice stands in the middle of the screen: its frame (title bar included) is centred.
    void verifyCentred(const QString& notice) const {
        const QRect client = d.info(notice).geometry;
        QCOMPARE(client.size(), kNoticeClient);
        const QRect frame = d.frame(notice);
        QVERIFY2(frame.top() < client.top(), "the notice has no title bar");
        // Where the frame's top goes depends on whether the title bar's height is known before
        // the first show: centred with it or without it are both the middle of the screen.
        const QSize screen = d.screenSize();
        const int topWithFrame = (screen.height() - frame.height()) / 2;
        const int topWithoutFrame = (screen.height() - client.height()) / 2;
        const QString where = QStringLiteral("frame %1,%2 %3x%4")
                                  .arg(frame.x())
                                  .arg(frame.y())
                                  .arg(frame.width())
                                  .arg(frame.height());
        QVERIFY2(qAbs(frame.x() - (screen.width() - frame.width()) / 2) <= 1, qPrintable(where));
        QVERIFY2(frame.y() >= topWithFrame - 1 && frame.y() <= topWithoutFrame + 1,
                 qPrintable(where));
    }

    // Blue message box on the left; the count box's ink lies against its right edge.
    void verifyNoticeLook(const QString& notice) const {
        const QRect client = d.info(notice).geometry;
        const QImage screen = d.screenshot();
        const QImage shot = screen.copy(client);
        QCOMPARE(QColor(shot.pixel(3, 2)), QColor(0, 0, 255));
        QCOMPARE(QColor(shot.pixel(205, 15)), QColor(0, 0, 255));
        const QRgb back = shot.pixel(210, 1);
        QVERIFY2(QColor(back) != QColor(0, 0, 255), "the count box is blue too");
        int left = -1, right = -1;
        for (int x = 208; x < shot.width(); ++x)
            for (int y = 0; y < shot.height(); ++y)
                if (shot.pixel(x, y) != back) {
                    if (left < 0)
                        left = x;
                    right = x;
                }
        QVERIFY2(left >= 0, "no count drawn");
        QVERIFY2(shot.width() - 1 - right < left - 208,
                 qPrintable(QStringLiteral("count ink at x %1..%2 of 208..241 is not right-aligned")
                                .arg(left)
                                .arg(right)));
    }

  private slots:
    void initTestCase() { startMailServices(d, dovecot, bus, fakeBus); }

    void init() {
        QVERIFY(dovecot.clearMailbox("alice"));
        logMark = dovecot.log().size();
    }

    void cleanup() { endProgram(d, program); }

    void threeMessagesBringTheCompanion() {
        addThreeMessages();
        writeSettings(localServer(dovecot.pop3Port()), QStringLiteral("secret"), 0);
        const QString panel =
            startAndOpenPanel(QPoint(150, 100), QStringLiteral("journey-1-start.png"));
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QString character = d.waitForWindow(kCharacterTitle);
        const QRect characterAt = d.info(character).geometry;
        shoot(QStringLiteral("journey-2-panel.png"));

        clickReceive(panel);
        const QString notice = d.waitForWindow(kNoticeTitle, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY(waitUntil([&] { return retrievedPerLogout() == QList<int>{3}; }, 5000));

        // The companion takes the character's place; the character goes.
        const QString companion = d.waitForWindow(kCompanionTitle, 5000);
        QVERIFY2(!companion.isEmpty(), "no companion");
        // It is shown first and moved onto the spot right after.
        waitUntil([&] { return d.info(companion).geometry == characterAt; }, 3000);
        QCOMPARE(d.info(companion).geometry, characterAt);
        QVERIFY(waitUntil([&] { return d.findWindows(kCharacterTitle).isEmpty(); }, 3000));
        QVERIFY2(barkHeard(d, 4000), "no sound reached the sound server");
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
        shoot(QStringLiteral("journey-3-notice.png"));
        verifyCentred(notice);
        verifyNoticeLook(notice);

        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("3"));
        QCOMPARE(noticeText(d, notice, kNoticeMessageBox), kMailWaiting);
        // Wait for a bark pause to pass so the companion shows a later frame.
        runEvents(1500);
        shoot(QStringLiteral("journey-4-companion.png"));

        // Nothing is deleted: a second check finds the same three, in the same notice.
        clickReceive(panel);
        QVERIFY(waitUntil([&] { return retrievedPerLogout() == (QList<int>{3, 3}); }, 20000));
        runEvents(300);
        QCOMPARE(d.findWindows(kNoticeTitle).size(), 1);
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("3"));
    }

    void noMailOrFailedCheck_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("errorBox");
        QTest::addColumn<QString>("count"); // never negative: a failure has its box

        QTest::newRow("empty mailbox")
            << QString() << QStringLiteral("secret") << false << QStringLiteral("0");
        QTest::newRow("wrong password")
            << QString() << QStringLiteral("wrong") << true << QStringLiteral("0");
        QTest::newRow("closed port")
            << localServer(closedPort()) << QStringLiteral("secret") << true << QStringLiteral("0");
        // Dovecot's plain port greets in plain text where TLS was asked for: told at once.
        QTest::newRow("pop3s on a plain port")
            << QStringLiteral("pop3s://127.0.0.1:%1").arg(dovecot.pop3Port())
            << QStringLiteral("secret") << true << QStringLiteral("0");
        QTest::newRow("TLS on a plain connection")
            << localServer(tlsGreeter.port()) << QStringLiteral("secret") << true
            << QStringLiteral("0");
    }

    void noMailOrFailedCheck() {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(bool, errorBox);
        QFETCH(QString, count);

        writeSettings(server.isEmpty() ? localServer(dovecot.pop3Port()) : server, password, 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");

        QElapsedTimer clock;
        clock.start();
        clickReceive(panel);
        if (errorBox) {
            const QString box = d.waitForWindow(kErrorTitle, 10000);
            QVERIFY2(!box.isEmpty(), "no error box");
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            // The check waits for the box: no notice behind it yet.
            runEvents(300);
            QVERIFY(d.findWindows(kNoticeTitle).isEmpty());
            shoot(QStringLiteral("mail-error-%1.png")
                      .arg(QString::fromLatin1(QTest::currentDataTag())
                               .replace(QLatin1Char(' '), QLatin1Char('-'))));
            d.activate(box);
            d.key(QStringLiteral("Return"));
            QVERIFY(waitUntil([&] { return d.findWindows(kErrorTitle).isEmpty(); }, 5000));
        }
        const QString notice = d.waitForWindow(kNoticeTitle, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        verifyCentred(notice);
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), count);
        QCOMPARE(noticeText(d, notice, kNoticeMessageBox), kNoMail);
        // The companion stays away, the character stays.
        QVERIFY(!barkHeard(d, 1500));
        QVERIFY(d.findWindows(kCompanionTitle).isEmpty());
        QCOMPARE(d.findWindows(kCharacterTitle).size(), 1);
        if (server.isEmpty() && !errorBox)
            QCOMPARE(retrievedPerLogout(), QList<int>{0});
    }

    // Courier's login process hands the session to a new process once the password is taken.
    void courierThreeMessages_data() {
        QTest::addColumn<bool>("pop3s");
        QTest::newRow("STLS") << false;
        QTest::newRow("pop3s") << true;
    }

    void courierThreeMessages() {
        QFETCH(bool, pop3s);
        CourierServer courier;
        QVERIFY2(courier.start(), qPrintable(courier.errorString()));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(courier.addMessage(sampleMessage(n, "=?UTF-8?B?5Lya6K2w?=")));
        writeSettings(pop3s ? QStringLiteral("pop3s://localhost:%1").arg(courier.pop3sPort())
                            : localServer(courier.pop3Port()),
                      QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        QElapsedTimer clock;
        clock.start();
        clickReceive(panel);
        const QString notice = d.waitForWindow(kNoticeTitle, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        qInfo("notice after %lld ms", clock.elapsed());
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("3"));
        QCOMPARE(noticeText(d, notice, kNoticeMessageBox), kMailWaiting);
        shoot(QStringLiteral("courier-%1.png").arg(pop3s ? "pop3s" : "stls"));
    }

    // Providers publish POP3S as "host:995": the check speaks TLS from the first byte there.
    void tlsFromTheFirstByteOnPort995() {
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 995))
                QSKIP(qPrintable(QStringLiteral("127.0.0.1:995 cannot be listened on here (%1)")
                                     .arg(probe.errorString())));
        }
        DovecotServer pop3s({.apop = true, .tls = true, .pop3sPort = 995});
        QVERIFY2(pop3s.start(), qPrintable(pop3s.errorString()));
        const QByteArray subject = "=?UTF-8?B?6YCx5pyr44Gu5LqI5a6a?="; // 週末の予定
        for (int n = 1; n <= 2; ++n)
            QVERIFY(pop3s.addMessage("alice", sampleMessage(n, subject)));
        writeSettings(localServer(995), QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        QElapsedTimer clock;
        clock.start();
        clickReceive(panel);
        const QString notice = d.waitForWindow(kNoticeTitle, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(d.findWindows(kErrorTitle).isEmpty());
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("2"));
        QVERIFY2(pop3s.log().contains(", TLS"), pop3s.log().constData());
    }

    // No server set is no answer: the check asks for one, as the first start does.
    void noServerOpensTheServerDialog() {
        writeSettings(QString(), QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QString asked = d.waitForWindow(kServerTitle);
        QVERIFY2(!asked.isEmpty(), "no server dialog at the start");
        d.activate(asked);
        d.key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([&] { return d.findWindows(kServerTitle).isEmpty(); }, 5000));
        clickReceive(panel);
        QVERIFY2(!d.waitForWindow(kServerTitle).isEmpty(), "受信 did not ask for the server");
        const QString notice = d.waitForWindow(kNoticeTitle);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("0"));
    }

    // A server that never finishes cannot hold the program: the right click ends it at once. And
    // however the program ends, even killed, the mail process ends with it and lets go of the
    // connection.
    void programEndsDuringACheck_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("right click") << false;
        QTest::newRow("killed") << true;
    }

    void programEndsDuringACheck() {
        QFETCH(bool, killed);
        ScriptedPop3Server::Script script;
        script.messages = {sampleMessage(1, "stalled")};
        script.fault = ScriptedPop3Server::Fault::StallInMessage;
        script.faultMessage = 1;
        ScriptedPop3Server server(script);
        writeSettings(localServer(server.port()), QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QRect character = d.info(d.waitForWindow(kCharacterTitle)).geometry;
        clickReceive(panel);
        // The server sends half the message and then nothing: the check waits inside RETR.
        QVERIFY(waitUntil([&] { return server.commands().contains("RETR 1"); }, 10000));
        QVERIFY(program->state() == QProcess::Running);
        if (killed) {
            program->kill();
            QVERIFY(program->waitForFinished(3000));
        } else {
            verifyRightClickEndsProgram(d, program, character.topLeft() + kOnFigure);
        }
        QVERIFY2(
            waitUntil([&] { return server.connectionsClosed() == server.connections(); }, 5000),
            "the mail process outlived the program");
    }

    void hangUpAfterTheCheck_data() {
        QTest::addColumn<int>("number");
        QTest::newRow("hang-up on") << 1;
        QTest::newRow("hang-up off") << 0;
    }

    void hangUpAfterTheCheck() {
        QFETCH(int, number);
        FakeNetworkManager nm(fakeBus, nullptr);
        FakeNetworkManager::Active ppp;
        ppp.type = QStringLiteral("ppp");
        nm.setActive({ppp});
        QVERIFY(nm.start());

        addThreeMessages();
        writeSettings(localServer(dovecot.pop3Port()), QStringLiteral("secret"), number);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        clickReceive(panel);
        QVERIFY(!d.waitForWindow(kNoticeTitle, 20000).isEmpty());
        if (number == 1) {
            QVERIFY(waitUntil([&] { return !nm.deactivated().isEmpty(); }, 10000));
            QCOMPARE(nm.deactivated(), QStringList{nm.activePath(0)});
            // The hang-up comes last: the companion is already out.
            QVERIFY(!d.findWindows(kCompanionTitle).isEmpty());
        } else {
            // The hang-up would follow the companion within its 3 s budget.
            QVERIFY(!d.waitForWindow(kCompanionTitle, 5000).isEmpty());
            runEvents(4000);
            QVERIFY(nm.deactivated().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eMail)
#include "test_e2e_mail.moc"
