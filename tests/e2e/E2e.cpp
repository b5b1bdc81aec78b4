#include "E2e.h"

#include "DovecotServer.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

namespace e2e {

QImage frameImage(char letter, int scale) {
    const QString suffix = scale > 1 ? QStringLiteral("@%1x").arg(scale) : QString();
    return QImage(
               QStringLiteral(MOKOPON_FRAMES_DIR "/%1%2.png").arg(QLatin1Char(letter)).arg(suffix))
        .convertToFormat(QImage::Format_RGB32);
}

char shownPicture(const QImage& screen, const QPoint& at) {
    static const QList<QImage> frames = [] {
        QList<QImage> all;
        for (char letter : QByteArray("ABCDEFG"))
            all << frameImage(letter);
        return all;
    }();
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const QImage& f = frames[i];
        bool same = true;
        for (int y = 0; y < f.height() && same; y += 2)
            for (int x = 0; x < f.width() && same; x += 2) {
                const QRgb c = f.pixel(x, y);
                if ((c & 0xFFFFFF) == 0xFFFFFF)
                    continue;
                const QPoint p = at + QPoint(x, y);
                if (!screen.rect().contains(p) || (screen.pixel(p) & 0xFFFFFF) != (c & 0xFFFFFF))
                    same = false;
            }
        if (same)
            return char('A' + i);
    }
    return '?';
}

void clickControl(const Desktop& d, const QString& window, float l, float t, float w, float h) {
    const QPoint c = pxRect(l, t, w, h).center();
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
               QString::number(c.x()), QString::number(c.y()), QStringLiteral("click"),
               QStringLiteral("1")});
}

void fillAccount(const Desktop& d, const QString& window, const QString& user,
                 const QString& password, bool tick) {
    d.activate(window);
    QThread::msleep(150);
    d.key(QStringLiteral("shift+Tab"));
    d.typeKeys(user);
    d.key(QStringLiteral("shift+Tab"));
    d.typeKeys(password);
    if (!tick)
        return;
    d.key(QStringLiteral("Tab"));
    d.key(QStringLiteral("Tab"));
    d.key(QStringLiteral("space"));
}

QPoint panelButton(PanelButton button) {
    // The buttons' twips rectangles in the panel's window; the client area is 225 twips high.
    switch (button) {
    case PanelButton::Bark:
        return pxRect(0, 0, 720, 255).center();
    case PanelButton::Check:
        return pxRect(720, 0, 495, 255).center();
    case PanelButton::Settings:
        return pxRect(1200, 0, 615, 255).center();
    case PanelButton::HomePage:
        return pxRect(1800, 0, 600, 255).center();
    }
    return {};
}

QString shotPath(const QString& name) {
    return QStringLiteral(MOKOPON_SHOTS_DIR "/") + name;
}

QProcess* launchAt(Desktop& d, const QPoint& pointer, const QString& workingDir,
                   const QProcessEnvironment& extra) {
    d.moveTo(pointer);
    return d.launch(workingDir, extra);
}

bool waitForOutline(const Desktop& d, const QString& character, int timeoutMs) {
    return waitUntil([&] { return d.shapeRects(character).size() > 1; }, timeoutMs);
}

QString openPanel(const Desktop& d, const QString& character, int timeoutMs) {
    d.doubleClick(d.info(character).geometry.topLeft() + kOnFigure);
    return d.waitForWindow(kPanelTitle, timeoutMs);
}

QString noticeText(const Desktop& d, const QString& notice, const QPoint& inBox) {
    QString text;
    QDeadlineTimer deadline(5000);
    do {
        d.activate(notice);
        d.click(d.info(notice).geometry.topLeft() + inBox);
        runEvents(100);
        d.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")});
        runEvents(200);
        text = d.clipboardText();
    } while (text.isEmpty() && !deadline.hasExpired());
    return text;
}

bool barkHeard(const Desktop& d, int timeoutMs) {
    return waitUntil(
        [&] {
            return !d.pactl({QStringLiteral("list"), QStringLiteral("short"),
                             QStringLiteral("sink-inputs")})
                        .trimmed()
                        .isEmpty();
        },
        timeoutMs);
}

void startMailServices(Desktop& d, DovecotServer& dovecot, PrivateBus& bus,
                       QDBusConnection& fakeBus) {
    QString why;
    QVERIFY2(d.start(&why), qPrintable(why));
    QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));
    QVERIFY2(bus.start(), qPrintable(bus.error()));
    QVERIFY2(d.startSoundServer(&why), qPrintable(why));
    fakeBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("fake-nm"));
    QVERIFY2(fakeBus.isConnected(), qPrintable(fakeBus.lastError().message()));
}

QProcessEnvironment mailEnvironment(const Desktop& d, const PrivateBus& bus) {
    QProcessEnvironment env = d.soundEnvironment();
    env.insert(QStringLiteral("SSL_CERT_FILE"), DovecotServer::caFile());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus.address());
    return env;
}

QString localServer(quint16 port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

void writeMailSettings(const Desktop& d, const QString& pop3, const QString& password,
                       const QByteArray& settingsKeys) {
    QFile server(d.work() + QStringLiteral("/vbmail.ini"));
    QVERIFY(server.open(QIODevice::WriteOnly | QIODevice::Truncate));
    server.write("SMTP=\r\nPOP3=" + pop3.toLatin1() + "\r\nMAIL=\r\nAPOP=0\r\n");
    const QString data = d.programFolder() + QStringLiteral("/★MailData/");
    QFile account(data + QStringLiteral("iniIdPass.ini"));
    QVERIFY(account.open(QIODevice::WriteOnly | QIODevice::Truncate));
    account.write("[EXEINI]\r\nNAME=alice\r\nNAME2=" + password.toLatin1() + "\r\nNAME3=1\r\n");
    QFile settings(data + QStringLiteral("ini.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write("[EXEINI]\r\n" + settingsKeys);
}

void verifyRightClickEndsProgram(const Desktop& d, QProcess* program, const QPoint& on) {
    QElapsedTimer clock;
    clock.start();
    d.click(on, 3);
    QVERIFY2(program->waitForFinished(1000),
             qPrintable(
                 QStringLiteral("still running %1 ms after the right click").arg(clock.elapsed())));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
}

void endProgram(const Desktop& d, QProcess*& program) {
    if (program && program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished(3000);
    }
    program = nullptr;
    waitUntil([&] { return d.findWindows(kCharacterTitle, false).isEmpty(); }, 5000);
}

} // namespace e2e
