// The real program checks a real Dovecot on 127.0.0.1 from its panel: the notice, the companion,
// the error boxes, and the hang-up against a fake NetworkManager on a private D-Bus.
//
// The fake answers from this thread's event loop, so every wait here keeps processing events.

#include "Desktop.h"
#include "DovecotServer.h"
#include "FakeNetworkManager.h"
#include "PrivateBus.h"
#include "ScriptedPop3Server.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>

namespace {

// On the figure of every dozing frame, in window coordinates: the basket's middle.
const QPoint kOnFigure(60, 165);
// 受信 on the panel, client coordinates (720..1215 by 0..255 twips).
const QPoint kReceiveButton(64, 8);
// Inside the notice's two text boxes, client coordinates.
const QPoint kMessageBox(100, 9);
const QPoint kCountBox(225, 9);
const QSize kNoticeClient(242, 18);

const QString kCharacter = QStringLiteral("Form1");
const QString kCompanion = QStringLiteral("Form3");
const QString kPanel = QStringLiteral("モコポン");
const QString kNotice = QStringLiteral("新着お知らせ");
const QString kError = QStringLiteral("エラー");
const QString kMailWaiting = QStringLiteral("新着メールが有ります。");
const QString kNoMail = QStringLiteral("新着メールはありませんでした。");

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

void pump(int ms) {
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    } while (!deadline.hasExpired());
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        pump(40);
    }
    return done();
}

// The text the program put on the X clipboard, read as UTF-8; empty when nobody answers.
QString clipboardText(const QString& display) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return {};
    }
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    };
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    const xcb_atom_t target = atom("MOKOPON_TEST_CLIPBOARD");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, 0, window, it.data->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_convert_selection(c, window, clipboard, utf8, target, XCB_CURRENT_TIME);
    xcb_flush(c);

    QString text;
    QDeadlineTimer deadline(3000);
    bool answered = false;
    while (!answered && !deadline.hasExpired()) {
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (!e) {
            pump(10);
            continue;
        }
        if ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            answered = true;
            const auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(e);
            if (n->property != XCB_ATOM_NONE) {
                xcb_get_property_reply_t* p = xcb_get_property_reply(
                    c, xcb_get_property(c, 1, window, target, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                    nullptr);
                if (p) {
                    text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(p)),
                                             xcb_get_property_value_length(p));
                    free(p);
                }
            }
        }
        free(e);
    }
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
    return text;
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
    QTemporaryDir soundDir;
    QProcess soundServer;

    QString pulseServer() const {
        return QStringLiteral("unix:") + soundDir.filePath(QStringLiteral("native"));
    }

    // The bark needs a sound server: without one every bark is an error box.
    bool startSoundServer(QString* why) {
        soundServer.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        soundServer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), soundDir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), soundDir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"),
                   soundDir.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), soundDir.filePath(QStringLiteral("state")));
        soundServer.setProcessEnvironment(env);
        soundServer.start(QStringLiteral("pulseaudio"),
                          {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                           QStringLiteral("--exit-idle-time=-1"),
                           QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"),
                           QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                           QStringLiteral("module-null-sink sink_name=mokosink"),
                           QStringLiteral("-L"),
                           QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") +
                               soundDir.filePath(QStringLiteral("native"))});
        if (!soundServer.waitForStarted(5000)) {
            *why = QStringLiteral("pulseaudio does not start");
            return false;
        }
        const bool up =
            pumpUntil([&] { return !pactl({QStringLiteral("info")}).isEmpty(); }, 15000);
        if (!up)
            *why = QStringLiteral("pulseaudio does not answer");
        return up;
    }

    QString pactl(const QStringList& args) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), pulseServer());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("pactl"), args);
        if (!p.waitForFinished(5000) || p.exitCode() != 0)
            return {};
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }

    // True once a stream from the program has reached the sound server's sink.
    bool barkHeard(int timeoutMs) const {
        return pumpUntil(
            [&] {
                return !pactl({QStringLiteral("list"), QStringLiteral("short"),
                               QStringLiteral("sink-inputs")})
                            .trimmed()
                            .isEmpty();
            },
            timeoutMs);
    }

    QString shotPath(const QString& name) const {
        return QStringLiteral(MOKOPON_SHOTS_DIR "/") + name;
    }
    void shoot(const QString& name) const { d.saveScreenshot(shotPath(name)); }

    QString waitFor(const QString& title, int timeoutMs = 10000) const {
        QString id;
        pumpUntil(
            [&] {
                const QStringList ids = d.findWindows(title);
                id = ids.isEmpty() ? QString() : ids.first();
                return !id.isEmpty();
            },
            timeoutMs);
        return id;
    }

    void writeSettings(const QString& pop3, const QString& password, int hangUp) {
        QFile server(d.work() + QStringLiteral("/vbmail.ini"));
        QVERIFY(server.open(QIODevice::WriteOnly | QIODevice::Truncate));
        server.write("SMTP=\r\nPOP3=" + pop3.toLatin1() + "\r\nMAIL=\r\nAPOP=0\r\n");
        const QString data = d.programFolder() + QStringLiteral("/★MailData/");
        QFile account(data + QStringLiteral("iniIdPass.ini"));
        QVERIFY(account.open(QIODevice::WriteOnly | QIODevice::Truncate));
        account.write("[EXEINI]\r\nNAME=alice\r\nNAME2=" + password.toLatin1() + "\r\nNAME3=1\r\n");
        QFile hangUpFile(data + QStringLiteral("ini.ini"));
        QVERIFY(hangUpFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
        hangUpFile.write("[EXEINI]\r\nNUMBER=" + QByteArray::number(hangUp) + "\r\n");
    }

    QString dovecotServer() const { return QStringLiteral("127.0.0.1:%1").arg(dovecot.pop3Port()); }

    // Starts the program with the character at `at`, double-clicks it and returns the panel.
    QString startAndOpenPanel(QPoint at = QPoint(150, 100), const QString& firstShot = QString()) {
        d.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
        QProcessEnvironment env;
        env.insert(QStringLiteral("SSL_CERT_FILE"), DovecotServer::caFile());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("PULSE_SERVER"), pulseServer());
        program = d.launch(QString(), env);
        const QString character = waitFor(kCharacter);
        if (character.isEmpty())
            return {};
        if (!firstShot.isEmpty())
            shoot(firstShot);
        const QPoint on = d.info(character).geometry.topLeft() + kOnFigure;
        d.xdotool({QStringLiteral("mousemove"), QString::number(on.x()), QString::number(on.y())});
        d.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                   QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        return waitFor(kPanel);
    }

    void clickAt(const QPoint& p) const {
        d.xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()),
                   QStringLiteral("click"), QStringLiteral("1")});
    }

    void clickReceive(const QString& panel) const {
        clickAt(d.info(panel).geometry.topLeft() + kReceiveButton);
    }

    // What one of the notice's text boxes says: click into it, select all, copy.
    // Both boxes always hold text, so an empty answer means the keys came before the focus did:
    // try again for a while.
    QString noticeText(const QString& notice, const QPoint& inBox) const {
        QString text;
        QDeadlineTimer deadline(5000);
        do {
            d.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), notice});
            clickAt(d.info(notice).geometry.topLeft() + inBox);
            pump(100);
            d.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")});
            pump(200);
            text = clipboardText(d.display());
        } while (text.isEmpty() && !deadline.hasExpired());
        return text;
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
        const QString extents =
            d.tool(QStringLiteral("xprop"),
                   {QStringLiteral("-id"), notice, QStringLiteral("_NET_FRAME_EXTENTS")});
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)")).match(extents);
        QVERIFY2(m.hasMatch(), qPrintable(extents));
        const QRect frame = client.adjusted(-m.captured(1).toInt(), -m.captured(3).toInt(),
                                            m.captured(2).toInt(), m.captured(4).toInt());
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
    void initTestCase() {
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        QVERIFY2(startSoundServer(&why), qPrintable(why));
        fakeBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("fake-nm"));
        QVERIFY2(fakeBus.isConnected(), qPrintable(fakeBus.lastError().message()));
    }

    void cleanupTestCase() {
        soundServer.terminate();
        if (!soundServer.waitForFinished(3000)) {
            soundServer.kill();
            soundServer.waitForFinished(1000);
        }
    }

    void init() {
        QVERIFY(dovecot.clearMailbox("alice"));
        logMark = dovecot.log().size();
    }

    void cleanup() {
        if (program && program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(3000);
        }
        program = nullptr;
        pump(200);
    }

    void threeMessagesBringTheCompanion() {
        addThreeMessages();
        writeSettings(dovecotServer(), QStringLiteral("secret"), 0);
        const QString panel =
            startAndOpenPanel(QPoint(150, 100), QStringLiteral("journey-1-start.png"));
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QString character = waitFor(kCharacter);
        const QRect characterAt = d.info(character).geometry;
        shoot(QStringLiteral("journey-2-panel.png"));

        clickReceive(panel);
        const QString notice = waitFor(kNotice, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY(pumpUntil([&] { return retrievedPerLogout() == QList<int>{3}; }, 5000));

        // The companion takes the character's place; the character goes.
        const QString companion = waitFor(kCompanion, 5000);
        QVERIFY2(!companion.isEmpty(), "no companion");
        // It is shown first and moved onto the spot right after.
        pumpUntil([&] { return d.info(companion).geometry == characterAt; }, 3000);
        QCOMPARE(d.info(companion).geometry, characterAt);
        QVERIFY(pumpUntil([&] { return d.findWindows(kCharacter).isEmpty(); }, 3000));
        QVERIFY2(barkHeard(4000), "no sound reached the sound server");
        QVERIFY(d.findWindows(kError).isEmpty());
        shoot(QStringLiteral("journey-3-notice.png"));
        verifyCentred(notice);
        verifyNoticeLook(notice);

        QCOMPARE(noticeText(notice, kCountBox), QStringLiteral("3"));
        QCOMPARE(noticeText(notice, kMessageBox), kMailWaiting);
        // Wait for a bark pause to pass so the companion shows a later frame.
        pump(1500);
        shoot(QStringLiteral("journey-4-companion.png"));

        // Nothing is deleted: a second check finds the same three, in the same notice.
        clickReceive(panel);
        QVERIFY(pumpUntil([&] { return retrievedPerLogout() == (QList<int>{3, 3}); }, 20000));
        pump(300);
        QCOMPARE(d.findWindows(kNotice).size(), 1);
        QCOMPARE(noticeText(notice, kCountBox), QStringLiteral("3"));
    }

    void noMailOrFailedCheck_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("errorBox");
        QTest::addColumn<QString>("count"); // a regular expression

        QTest::newRow("empty mailbox")
            << QString() << QStringLiteral("secret") << false << QStringLiteral("0");
        QTest::newRow("wrong password")
            << QString() << QStringLiteral("wrong") << true << QStringLiteral("-\\d+");
        QTest::newRow("closed port") << QStringLiteral("127.0.0.1:%1").arg(closedPort())
                                     << QStringLiteral("secret") << true << QStringLiteral("-\\d+");
        // Dovecot's plain port greets in plain text where TLS was asked for: told at once.
        QTest::newRow("pop3s on a plain port")
            << QStringLiteral("pop3s://127.0.0.1:%1").arg(dovecot.pop3Port())
            << QStringLiteral("secret") << true << QStringLiteral("-\\d+");
        QTest::newRow("TLS on a plain connection")
            << QStringLiteral("127.0.0.1:%1").arg(tlsGreeter.port()) << QStringLiteral("secret")
            << true << QStringLiteral("-\\d+");
    }

    void noMailOrFailedCheck() {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(bool, errorBox);
        QFETCH(QString, count);

        writeSettings(server.isEmpty() ? dovecotServer() : server, password, 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");

        QElapsedTimer clock;
        clock.start();
        clickReceive(panel);
        if (errorBox) {
            const QString box = waitFor(kError, 10000);
            QVERIFY2(!box.isEmpty(), "no error box");
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            // The check waits for the box: no notice behind it yet.
            pump(300);
            QVERIFY(d.findWindows(kNotice).isEmpty());
            shoot(QStringLiteral("mail-error-%1.png")
                      .arg(QString::fromLatin1(QTest::currentDataTag())
                               .replace(QLatin1Char(' '), QLatin1Char('-'))));
            d.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), box});
            d.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            QVERIFY(pumpUntil([&] { return d.findWindows(kError).isEmpty(); }, 5000));
        }
        const QString notice = waitFor(kNotice, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        verifyCentred(notice);
        const QString shown = noticeText(notice, kCountBox);
        QVERIFY2(QRegularExpression(QStringLiteral("^%1$").arg(count)).match(shown).hasMatch(),
                 qPrintable(shown));
        QCOMPARE(noticeText(notice, kMessageBox), kNoMail);
        // The companion stays away, the character stays.
        QVERIFY(!barkHeard(1500));
        QVERIFY(d.findWindows(kCompanion).isEmpty());
        QCOMPARE(d.findWindows(kCharacter).size(), 1);
        if (server.isEmpty() && !errorBox)
            QCOMPARE(retrievedPerLogout(), QList<int>{0});
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
        writeSettings(QStringLiteral("127.0.0.1:995"), QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        QElapsedTimer clock;
        clock.start();
        clickReceive(panel);
        const QString notice = waitFor(kNotice, 20000);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(d.findWindows(kError).isEmpty());
        QCOMPARE(noticeText(notice, kCountBox), QStringLiteral("2"));
        QVERIFY2(pop3s.log().contains(", TLS"), pop3s.log().constData());
    }

    // No server set is no answer: the check asks for one, as the first start does.
    void noServerOpensTheServerDialog() {
        writeSettings(QString(), QStringLiteral("secret"), 0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QString asked = waitFor(QStringLiteral("サーバー"));
        QVERIFY2(!asked.isEmpty(), "no server dialog at the start");
        d.xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), asked});
        d.xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY(
            pumpUntil([&] { return d.findWindows(QStringLiteral("サーバー")).isEmpty(); }, 5000));
        clickReceive(panel);
        QVERIFY2(!waitFor(QStringLiteral("サーバー")).isEmpty(), "受信 did not ask for the server");
        const QString notice = waitFor(kNotice);
        QVERIFY2(!notice.isEmpty(), "no notice");
        QCOMPARE(noticeText(notice, kCountBox), QStringLiteral("0"));
    }

    // A server that never finishes cannot hold the program: the right click ends it at once.
    void rightClickEndsTheProgramDuringACheck() {
        ScriptedPop3Server::Script script;
        script.messages = {sampleMessage(1, "stalled")};
        script.fault = ScriptedPop3Server::Fault::StallInMessage;
        script.faultMessage = 1;
        ScriptedPop3Server server(script);
        writeSettings(QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("secret"),
                      0);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        const QRect character = d.info(waitFor(kCharacter)).geometry;
        clickReceive(panel);
        // The server sends half the message and then nothing: the check waits inside RETR.
        QVERIFY(pumpUntil([&] { return server.commands().contains("RETR 1"); }, 10000));
        QVERIFY(program->state() == QProcess::Running);
        const QPoint on = character.topLeft() + kOnFigure;
        QElapsedTimer clock;
        clock.start();
        d.xdotool({QStringLiteral("mousemove"), QString::number(on.x()), QString::number(on.y()),
                   QStringLiteral("click"), QStringLiteral("3")});
        QVERIFY2(
            program->waitForFinished(1000),
            qPrintable(
                QStringLiteral("still running %1 ms after the right click").arg(clock.elapsed())));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
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
        writeSettings(dovecotServer(), QStringLiteral("secret"), number);
        const QString panel = startAndOpenPanel();
        QVERIFY2(!panel.isEmpty(), "the panel did not open");
        clickReceive(panel);
        QVERIFY(!waitFor(kNotice, 20000).isEmpty());
        if (number == 1) {
            QVERIFY(pumpUntil([&] { return !nm.deactivated().isEmpty(); }, 10000));
            QCOMPARE(nm.deactivated(), QStringList{nm.activePath(0)});
            // The hang-up comes last: the companion is already out.
            QVERIFY(!d.findWindows(kCompanion).isEmpty());
        } else {
            // The hang-up would follow the companion within its 3 s budget.
            QVERIFY(!waitFor(kCompanion, 5000).isEmpty());
            pump(4000);
            QVERIFY(nm.deactivated().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eMail)
#include "test_e2e_mail.moc"
