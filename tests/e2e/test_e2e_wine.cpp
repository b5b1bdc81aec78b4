// The Windows program, as its package ships it (tools/windows/build.sh), under Wine on the
// private desktop: the character at the pointer, shaped and on top; one instance; the right click;
// a mail check against Dovecot, plain and over TLS with the tests' authority in the prefix's Root
// store, and the bark played through Wine into the null sink; the account file the dialog writes,
// in cp932 with CR LF. Skipped when the Windows build has not been made.

#include "DovecotServer.h"
#include "E2e.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>

using namespace e2e;

namespace {

const QString kWindowsBuild = QStringLiteral(MOKOPON_WINDOWS_BUILD_DIR);
const QString kWineRun = QStringLiteral(MOKOPON_SOURCE_DIR "/tools/windows/wine-run.sh");
// Wine starts a program in seconds, a fresh prefix's first one in tens of them.
constexpr int kStartMs = 60000;
// The recording of the sink: mono s16le at the bark's own rate, so that the recording and the
// file compare 10 ms by 10 ms.
constexpr int kRate = 44100;
constexpr double kLoud = 1000.0;

// The RMS of each 10 ms of mono 16-bit samples.
QList<double> loudness(const QByteArray& recorded) {
    const auto* s = reinterpret_cast<const qint16*>(recorded.constData());
    const qint64 step = kRate / 100;
    QList<double> out;
    for (qint64 i = 0; (i + 1) * step <= recorded.size() / 2; ++i) {
        double sum = 0;
        for (qint64 j = i * step; j < (i + 1) * step; ++j)
            sum += double(s[j]) * s[j];
        out << std::sqrt(sum / double(step));
    }
    return out;
}

// How long the samples are loud, from the first loud 10 ms to the last one within a second.
qint64 loudSpanMs(const QList<double>& level, qsizetype first) {
    qsizetype last = first;
    for (qsizetype i = first; i < first + 100 && i < level.size(); ++i)
        if (level[i] > kLoud)
            last = i;
    return (last - first + 1) * 10;
}

qsizetype firstLoud(const QList<double>& level) {
    return std::find_if(level.cbegin(), level.cend(), [](double v) { return v > kLoud; }) -
           level.cbegin();
}

QByteArray sampleMessage(int n) {
    return "From: kobayashi@example.jp\r\nTo: alice@example.jp\r\nSubject: test " +
           QByteArray::number(n) + "\r\n\r\nbody\r\n";
}

} // namespace

class TestE2eWine : public QObject {
    Q_OBJECT

    Desktop d;
    DovecotServer dovecot{DovecotServer::Options{.tls = true}};
    QTemporaryDir prefix;
    QProcess* program = nullptr;

    QProcessEnvironment wineEnvironment() const {
        QProcessEnvironment env = d.soundEnvironment();
        env.insert(QStringLiteral("MOKOPON_WINEPREFIX"), prefix.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("windows"));
        return env;
    }
    // Runs a program of the prefix to its end; its exit code, -1 when it did not end in time.
    int runInPrefix(const QStringList& command, int timeoutMs = 180000) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QProcessEnvironment own = wineEnvironment();
        for (const QString& key : own.keys())
            env.insert(key, own.value(key));
        env.insert(QStringLiteral("DISPLAY"), d.display());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(kWineRun, command);
        if (!p.waitForFinished(timeoutMs))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QProcess* start(const QPoint& at) {
        d.moveTo(at);
        return d.launchCommand(kWineRun, {d.programFolder() + QStringLiteral("/mokopon.exe")},
                               QString(), wineEnvironment());
    }
    QString startCharacter(const QPoint& at) {
        program = start(at);
        const QString character = d.waitForWindow(kCharacterTitle, kStartMs);
        if (!character.isEmpty())
            waitForOutline(d, character, 10000);
        return character;
    }
    void shoot(const QString& name) const { d.saveScreenshot(shotPath(name)); }

  private slots:
    void initTestCase() {
        const QString zip = kWindowsBuild + QStringLiteral("/mokopon-windows.zip");
        if (!QFileInfo::exists(zip))
            QSKIP("no Windows build (bash tools/windows/build.sh)");
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
        QVERIFY2(d.startSoundServer(&why), qPrintable(why));
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));
        // The package beside the Linux copy: the same Sound/, hp/ and ★MailData.
        QTemporaryDir unpacked;
        QCOMPARE(
            QProcess::execute(QStringLiteral("unzip"),
                              {QStringLiteral("-q"), zip, QStringLiteral("-d"), unpacked.path()}),
            0);
        QCOMPARE(
            QProcess::execute(QStringLiteral("cp"),
                              {QStringLiteral("-r"), QStringLiteral("-T"),
                               unpacked.filePath(QStringLiteral("Mokopon")), d.programFolder()}),
            0);
        QCOMPARE(runInPrefix({QStringLiteral("wineboot"), QStringLiteral("--init")}), 0);
        QCOMPARE(runInPrefix({kWindowsBuild + QStringLiteral("/tools/trust_ca.exe"),
                              QStringLiteral("Z:") + DovecotServer::caFile()}),
                 0);
    }
    void cleanup() { endProgram(d, program); }
    void cleanupTestCase() {
        if (QFileInfo::exists(prefix.filePath(QStringLiteral("system.reg"))))
            runInPrefix({QStringLiteral("wineboot"), QStringLiteral("--end-session")}, 30000);
    }

    void characterAtPointerShapedOnTopAndAlone() {
        writeMailSettings(d, localServer(dovecot.pop3Port()), QStringLiteral("secret"),
                          "NUMBER=0\r\n");
        const QString character = startCharacter(QPoint(300, 200));
        QVERIFY2(!character.isEmpty(), "the character did not show");
        QTRY_COMPARE_WITH_TIMEOUT(d.info(character).geometry.topLeft(), QPoint(300, 200), 5000);
        // On top: Wine leaves the window to no window manager and keeps it above the others
        // itself, so a window opened over it later stays beneath.
        QProcess* cover =
            d.launchCommand(QStringLiteral("xmessage"),
                            {QStringLiteral("-geometry"), QStringLiteral("400x400+200+100"),
                             QStringLiteral("cover")},
                            QString());
        QVERIFY(!d.waitForWindow(QStringLiteral("xmessage"), 10000).isEmpty());
        QVERIFY(
            waitUntil([&] { return shownPicture(d.screenshot(), QPoint(300, 200)) != '?'; }, 5000));
        cover->kill();
        cover->waitForFinished(5000);
        QVERIFY(d.waitGone(QStringLiteral("xmessage"), 5000));
        // The cut-away corner shows the desktop: the shape leaves it out, and the screen there is
        // the desktop's colour, as beside the window.
        QVERIFY(!d.shapeRects(character).isEmpty());
        for (const QRect& r : d.shapeRects(character))
            QVERIFY2(!r.contains(QPoint(0, 0)), "the corner is part of the window");
        const QImage screen = d.screenshot();
        shoot(QStringLiteral("wine-character.png"));
        QCOMPARE(screen.pixel(300, 200), screen.pixel(290, 190));
        QVERIFY(screen.pixel(QPoint(300, 200) + kOnFigure) != screen.pixel(290, 190));

        // A second start ends at once and leaves the first alone.
        QElapsedTimer clock;
        clock.start();
        QProcess* second = start(QPoint(600, 400));
        QVERIFY2(second->waitForFinished(kStartMs), "the second start did not end");
        QCOMPARE(second->exitCode(), 0);
        qInfo("the second start ended after %lld ms", clock.elapsed());
        QCOMPARE(d.findWindows(kCharacterTitle).size(), 1);

        clock.restart();
        d.click(QPoint(300, 200) + kOnFigure, 3);
        QVERIFY2(program->waitForFinished(10000), "the right click did not end it");
        qInfo("the right click ended it after %lld ms", clock.elapsed());
        QVERIFY(d.waitGone(character, 5000));
    }

    void mailCheckCountsAndBarks_data() {
        QTest::addColumn<QString>("server");
        QTest::newRow("plain") << localServer(dovecot.pop3Port());
        QTest::newRow("TLS") << QStringLiteral("pop3s://127.0.0.1:%1").arg(dovecot.pop3sPort());
    }
    void mailCheckCountsAndBarks() {
        QFETCH(QString, server);
        QVERIFY(dovecot.clearMailbox(QStringLiteral("alice")));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(dovecot.addMessage(QStringLiteral("alice"), sampleMessage(n)));
        writeMailSettings(d, server, QStringLiteral("secret"), "NUMBER=0\r\n");
        const QString character = startCharacter(QPoint(150, 100));
        QVERIFY2(!character.isEmpty(), "the character did not show");
        const QString panel = openPanel(d, character, 20000);
        QVERIFY2(!panel.isEmpty(), "a double click did not open the panel");
        // What the sink plays from here on.
        QProcess recorder;
        recorder.setProcessEnvironment(d.soundEnvironment());
        recorder.start(QStringLiteral("parec"),
                       {QStringLiteral("-d"), d.soundMonitor(), QStringLiteral("--raw"),
                        QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(kRate),
                        QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
        QVERIFY(recorder.waitForStarted(5000));
        d.click(d.info(panel).geometry.topLeft() + panelButton(PanelButton::Check));
        const QString notice = d.waitForWindow(kNoticeTitle, 60000);
        shoot(
            QStringLiteral("wine-notice-%1.png").arg(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY2(!notice.isEmpty(), "no notice");
        QVERIFY2(d.findWindows(kErrorTitle).isEmpty(), "an error box");
        QCOMPARE(noticeText(d, notice, kNoticeCountBox), QStringLiteral("3"));
        QVERIFY2(barkHeard(d, 20000), "no bark reached the sound server");
        // The first bark came out whole: loud as long as the file is (44100 Hz mono, its samples
        // after a 44-byte header).
        QFile wav(d.programFolder() + QStringLiteral("/Sound/Kouka.wav"));
        QVERIFY(wav.open(QIODevice::ReadOnly));
        const QList<double> fileLevel = loudness(wav.readAll().mid(44));
        const qint64 fileMs = loudSpanMs(fileLevel, firstLoud(fileLevel));
        QByteArray recorded;
        QList<double> level;
        qsizetype first = -1;
        QVERIFY(waitUntil(
            [&] {
                recorder.waitForReadyRead(50);
                recorded += recorder.readAllStandardOutput();
                level = loudness(recorded);
                first = firstLoud(level);
                return first < level.size() && level.size() - first > 100;
            },
            20000));
        recorder.kill();
        recorder.waitForFinished(3000);
        const qint64 heardMs = loudSpanMs(level, first);
        qInfo("the bark sounded for %lld ms of the file's %lld ms", heardMs, fileMs);
        QVERIFY2(qAbs(heardMs - fileMs) <= 30, qPrintable(QString::number(heardMs)));
    }

    // The installer, silent, then the installed copy: its files, the Start menu entry, the
    // uninstaller, and a first start that keeps its settings in the user's %APPDATA%.
    void installerInstallsAndTheInstalledCopyStarts() {
        const QString setup = kWindowsBuild + QStringLiteral("/mokopon-setup.exe");
        QCOMPARE(runInPrefix({setup, QStringLiteral("/S")}), 0);
        const QString drive = prefix.filePath(QStringLiteral("drive_c"));
        const QString installed = drive + QStringLiteral("/Program Files/Mokopon");
        // The silent installer returns before its work is done.
        QVERIFY(waitUntil(
            [&] { return QFileInfo::exists(installed + QStringLiteral("/uninstall.exe")); },
            60000));
        for (const char* file :
             {"mokopon.exe", "mokopon-mail.exe", "Qt6Core.dll", "platforms/qwindows.dll",
              "tls/qschannelbackend.dll", "Sound/Kouka.wav", "hp/index.html"})
            QVERIFY2(QFileInfo::exists(installed + u'/' + QLatin1String(file)), file);
        QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/★MailData")));
        QVERIFY(QFileInfo::exists(
            drive +
            QStringLiteral("/ProgramData/Microsoft/Windows/Start Menu/Programs/モコポン.lnk")));
        const QString appData = drive + QStringLiteral("/users/") +
                                qEnvironmentVariable("USER", QStringLiteral("root")) +
                                QStringLiteral("/AppData/Roaming/Mokopon");
        QVERIFY2(QFileInfo(appData + QStringLiteral("/★MailData")).isDir(), qPrintable(appData));

        d.moveTo(QPoint(150, 100));
        program = d.launchCommand(kWineRun, {installed + QStringLiteral("/mokopon.exe")}, QString(),
                                  wineEnvironment());
        QVERIFY2(!d.waitForWindow(kCharacterTitle, kStartMs).isEmpty(),
                 "the character did not show");
        // No vbmail.ini in its folder under %APPDATA% yet: the first start asks for the server.
        QVERIFY2(!d.waitForWindow(kServerTitle, 20000).isEmpty(), "no server dialog");
        shoot(QStringLiteral("wine-installed-first-start.png"));
    }

    void accountFileInCp932WithCrLf() {
        const QString name = QStringLiteral("山田");
        QString why;
        QVERIFY2(d.mapKeysFor(name, &why), qPrintable(why));
        const QString data = d.programFolder() + QStringLiteral("/★MailData/");
        writeMailSettings(d, localServer(dovecot.pop3Port()), QStringLiteral("secret"),
                          "NUMBER=0\r\n");
        QVERIFY(QFile::remove(data + QStringLiteral("iniIdPass.ini")));
        program = start(QPoint(150, 100));
        const QString account = d.waitForWindow(kAccountTitle, kStartMs);
        QVERIFY2(!account.isEmpty(), "no account dialog");
        fillAccount(d, account, name, QStringLiteral("pw"));
        QThread::msleep(200);
        d.key(QStringLiteral("Return"));
        QVERIFY2(d.waitGone(kAccountTitle, 10000), "Enter did not close the account dialog");
        QFile file(data + QStringLiteral("iniIdPass.ini"));
        QVERIFY(waitUntil([&] { return file.exists(); }, 5000));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // 山田 in cp932 is 8E 52 93 63.
        QVERIFY2(bytes.contains("NAME=\x8E\x52\x93\x63\r\n"), bytes.toHex(' ').constData());
        QVERIFY2(bytes.contains("NAME2=pw\r\n"), bytes.constData());
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestE2eWine)
#include "test_e2e_wine.moc"
