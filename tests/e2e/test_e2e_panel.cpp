// The real program on a private X desktop with a sound server of its own: the control panel under
// the character, the companion that barks in the character's place, the home-page offer.

#include "E2e.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTest>
#include <QThread>
#include <cmath>
#include <csignal>
#include <sys/prctl.h>

using namespace e2e;

namespace {

constexpr int kRate = 8000;      // the recording: mono s16le
constexpr double kLoud = 1000.0; // RMS of 50 ms inside the bark: several thousand
constexpr double kSilent = 50.0;
constexpr qint64 kBarkMs = 420; // length of Sound/Kouka.wav

QColor mostCommonColour(const QImage& image, const QRect& rect) {
    QHash<QRgb, int> count;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++count[image.pixel(x, y) & 0xFFFFFF];
    QRgb best = 0;
    int most = -1;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    return QColor::fromRgb(best);
}

bool writeFile(const QString& path, const QByteArray& text, bool executable = false) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return false;
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return true;
}

} // namespace

class TestE2ePanel : public QObject {
    Q_OBJECT
    Desktop d;
    QProcess* program = nullptr;
    QString character;
    QProcessEnvironment env;
    QString opened; // what the test browser was asked to open, one argument a line

    QProcess recorder;
    QByteArray recorded;

    bool start(int x = 300, int y = 150) {
        program = launchAt(d, QPoint(x, y), QString(), env);
        if (!program->waitForStarted(5000))
            return false;
        character = d.waitForWindow(kCharacterTitle);
        return !character.isEmpty() && waitForOutline(d, character);
    }
    QPoint at(const QString& id) const { return d.info(id).geometry.topLeft(); }
    // The outer top-left corner of a framed window.
    QPoint frameAt(const QString& id) const { return d.frame(id).topLeft(); }
    void drag(const QPoint& from, const QPoint& by) {
        d.moveTo(from);
        d.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        QThread::msleep(100);
        for (int i = 1; i <= 5; ++i) {
            const QPoint p = from + by * i / 5;
            d.moveTo(p);
            QThread::msleep(40);
        }
        QThread::msleep(100);
        d.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    }
    QString openPanel() { return e2e::openPanel(d, character, 5000); }
    QString bark(const QString& panel) {
        d.click(at(panel) + panelButton(PanelButton::Bark));
        return d.waitForWindow(kCompanionTitle, 5000);
    }

    // Recording of the sound server's output; sample n is n/8000 s after the recording began.
    bool startRecording() {
        recorded.clear();
        recorder.setProcessEnvironment(d.soundEnvironment());
        recorder.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        recorder.start(QStringLiteral("parec"),
                       {QStringLiteral("-d"), d.soundMonitor(), QStringLiteral("--raw"),
                        QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(kRate),
                        QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
        if (!recorder.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (mark() > ms(100))
                return true;
            QThread::msleep(20);
        }
        return false;
    }
    void stopRecording() {
        if (recorder.state() != QProcess::NotRunning) {
            recorder.terminate();
            if (!recorder.waitForFinished(3000))
                recorder.kill();
            recorder.waitForFinished(3000);
        }
    }
    qint64 mark() {
        recorder.waitForReadyRead(0);
        recorded += recorder.readAllStandardOutput();
        return recorded.size() / 2;
    }
    static qint64 ms(qint64 millis) { return millis * kRate / 1000; }
    double rms(qint64 from, qint64 to) const {
        const auto* s = reinterpret_cast<const qint16*>(recorded.constData());
        to = qMin<qint64>(to, recorded.size() / 2);
        if (to <= from)
            return -1;
        double sum = 0;
        for (qint64 i = from; i < to; ++i)
            sum += double(s[i]) * s[i];
        return std::sqrt(sum / double(to - from));
    }
    // First sample at or after from that starts a loud 50 ms stretch, or -1 before the deadline.
    qint64 waitForLoud(qint64 from, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        qint64 i = from;
        while (!deadline.hasExpired()) {
            const qint64 end = mark();
            for (; i + ms(50) <= end; i += ms(10))
                if (rms(i, i + ms(50)) > kLoud)
                    return i;
            QThread::msleep(5);
        }
        return -1;
    }
    // The loudest 50 ms stretch between two samples.
    double loudest(qint64 from, qint64 to) const {
        double most = 0;
        for (qint64 i = from; i + ms(50) <= to; i += ms(25))
            most = qMax(most, rms(i, i + ms(50)));
        return most;
    }
    void recordFor(int millis) {
        QDeadlineTimer deadline(millis);
        while (!deadline.hasExpired()) {
            mark();
            QThread::msleep(20);
        }
        mark();
    }

  private slots:
    void initTestCase() {
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
        QVERIFY2(d.startSoundServer(&why), qPrintable(why));
        QVERIFY(d.writeCompleteSettings());

        // A browser of the test's own, reached both ways xdg-open looks for one: the default
        // application for HTML and the BROWSER variable.
        const QString root = d.work() + QStringLiteral("/browser");
        const QString browser = root + QStringLiteral("/browser.sh");
        opened = root + QStringLiteral("/opened.txt");
        QVERIFY(writeFile(browser,
                          "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                              opened.toUtf8() + "'; done\n",
                          true));
        QVERIFY(writeFile(
            root + QStringLiteral("/data/applications/e2e-browser.desktop"),
            "[Desktop Entry]\nType=Application\nName=E2E browser\nExec=" + browser.toUtf8() +
                " %u\nMimeType=text/html;x-scheme-handler/file;\n"));
        QVERIFY(writeFile(root + QStringLiteral("/config/mimeapps.list"),
                          "[Default Applications]\ntext/html=e2e-browser.desktop\n"
                          "x-scheme-handler/file=e2e-browser.desktop\n"));
        env = d.soundEnvironment();
        env.insert(QStringLiteral("BROWSER"), browser);
        env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QString());
    }

    void cleanup() {
        stopRecording();
        endProgram(d, program);
        QFile::remove(opened);
    }

    void panelOpensUnderTheCharacterOnce() {
        QVERIFY(start(300, 150));
        const QPoint c = at(character);
        const QString panel = openPanel();
        QVERIFY2(!panel.isEmpty(), "no panel after a double click on the character");
        // 3000 twips down, 100 left, at 15 twips a pixel; the frame's corner, as the program sees
        // it.
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), c + QPoint(-7, 200), 3000);
        QCOMPARE(at(character), c);
        QCOMPARE(d.info(panel).geometry.size(), QSize(158, 15));
        QVERIFY2(d.netWmState(panel).contains(QStringLiteral("_NET_WM_STATE_ABOVE")),
                 qPrintable(d.netWmState(panel).join(' ')));

        d.doubleClick(at(character) + kOnFigure);
        QThread::msleep(1000);
        QCOMPARE(d.findWindows(kPanelTitle, false).size(), 1);
        QCOMPARE(frameAt(panel), c + QPoint(-7, 200));

        d.moveTo(QPoint(900, 700));
        QThread::msleep(300);
        const QImage shot = d.screenshot();
        shot.save(shotPath(QStringLiteral("panel.png")));

        // Each button's face, the colour most of its visible pixels have, is its back colour.
        const QPoint client = at(panel);
        const struct {
            const char* caption;
            QRect rect;
            QColor colour;
        } faces[] = {{"吠える", QRect(0, 0, 48, 15), QColor(192, 192, 255)},
                     {"受信", QRect(48, 0, 33, 15), QColor(192, 192, 255)},
                     {"設定", QRect(81, 0, 39, 15), QColor(128, 128, 255)},
                     {"HP", QRect(120, 0, 38, 15), QColor(128, 255, 128)}};
        for (const auto& f : faces) {
            const QColor face = mostCommonColour(shot, f.rect.translated(client));
            const bool near = qAbs(face.red() - f.colour.red()) <= 4 &&
                              qAbs(face.green() - f.colour.green()) <= 4 &&
                              qAbs(face.blue() - f.colour.blue()) <= 4;
            QVERIFY2(near, qPrintable(QStringLiteral("%1 shows %2, not %3")
                                          .arg(QString::fromUtf8(f.caption), face.name(),
                                               f.colour.name())));
        }
    }

    void aMinimisedPanelComesBackOnADoubleClick() {
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        d.xdotool({QStringLiteral("windowminimize"), QStringLiteral("--sync"), panel});
        QTRY_VERIFY_WITH_TIMEOUT(!d.info(panel).viewable, 3000);
        // Found among the visible windows only: mapped again.
        QCOMPARE(openPanel(), panel);
    }

    void thePanelCarriesTheCharacterAndHoldsIt() {
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), at(character) + QPoint(-7, 200), 3000);

        // By the title bar, left of the caption and right of the icon.
        const QPoint frame = frameAt(panel);
        const QPoint grab(frame.x() + 40, (frame.y() + at(panel).y()) / 2);
        const QPoint by(150, 80);
        drag(grab, by);
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), frame + by, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(at(character), frame + by + QPoint(7, -200), 1000);

        // Dragged away, the character goes back under the panel's hold at once.
        const QPoint pinned = at(character);
        drag(pinned + kOnFigure, QPoint(-120, -60));
        QElapsedTimer t;
        t.start();
        while (at(character) != pinned && t.elapsed() < 2000)
            QThread::msleep(5);
        const qint64 back = t.elapsed();
        QCOMPARE(at(character), pinned);
        QVERIFY2(back < 250, qPrintable(QStringLiteral("back after %1 ms").arg(back)));
        qInfo("character back in place %lld ms after the drag ended (measured by polling xwininfo)",
              back);
        QCOMPARE(frameAt(panel), frame + by);
    }

    void theCompanionStandsInAndBarksUntilMoved() {
        QVERIFY(startRecording());
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), at(character) + QPoint(-7, 200), 3000);
        const QPoint spot = at(character);
        const qint64 before = mark();
        QVERIFY2(loudest(ms(100), before) < kSilent, "sound before the bark button");

        const QString companion = bark(panel);
        QVERIFY2(!companion.isEmpty(), "no companion after 吠える");
        // Shown first, then put on the spot.
        QTRY_COMPARE_WITH_TIMEOUT(at(companion), spot, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(d.findWindows(kCharacterTitle).isEmpty(), 3000);
        // The companion's hidden sound check boxes answer no access key: repeat (alt+L) would
        // bark every 0.4 s below.
        d.click(spot + kOnFigure);
        d.xdotool({QStringLiteral("key"), QStringLiteral("alt+l"), QStringLiteral("alt+s"),
                   QStringLiteral("alt+o")});

        // The meeting check runs every second and pauses 1.2 s after each bark.
        const qint64 first = waitForLoud(before, 4000);
        QVERIFY2(first >= 0, "no bark heard within 4 s of 吠える");
        const qint64 second = waitForLoud(first + ms(kBarkMs + 200), 4000);
        QVERIFY2(second >= 0, "the companion barked only once");
        const qint64 gap = (second - first) * 1000 / kRate;
        QVERIFY2(gap > 1200 && gap < 3200,
                 qPrintable(QStringLiteral("barks %1 ms apart").arg(gap)));
        qInfo("barks %lld ms apart", gap);

        d.moveTo(QPoint(900, 700));
        QThread::msleep(300);
        d.saveScreenshot(shotPath(QStringLiteral("companion.png")));

        // Past the drag distance, off the spot, and it falls silent once the bark under way has
        // ended.
        drag(spot + kOnFigure, QPoint(12, 9));
        QTRY_VERIFY_WITH_TIMEOUT(at(companion) != spot, 3000);
        recordFor(kBarkMs + 500);
        const qint64 quietFrom = mark();
        recordFor(4000);
        const double after = loudest(quietFrom, mark());
        QVERIFY2(after < kSilent,
                 qPrintable(QStringLiteral("still sounding off the spot: %1").arg(after)));
        // The character stays hidden and the companion where it was put.
        QVERIFY(d.findWindows(kCharacterTitle).isEmpty());
        QVERIFY(!d.findWindows(kCompanionTitle).isEmpty());
    }

    // The panel holds the hidden character above the screen; the companion's screen keeping pulls
    // it down to the top edge, off the spot, and there it falls silent.
    void companionPulledOffTheSpotFallsSilent() {
        QVERIFY(startRecording());
        QVERIFY(start(300, 250));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), at(character) + QPoint(-7, 200), 3000);
        const QPoint frame = frameAt(panel);
        drag(QPoint(frame.x() + 40, (frame.y() + at(panel).y()) / 2), QPoint(0, 60 - frame.y()));
        QTRY_VERIFY_WITH_TIMEOUT(at(character).y() < 0, 3000);
        const QString companion = bark(panel);
        QVERIFY(!companion.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(at(companion).y(), 0, 5000);
        recordFor(kBarkMs + 500);
        const qint64 quietFrom = mark();
        recordFor(4000);
        const double after = loudest(quietFrom, mark());
        QVERIFY2(after < kSilent,
                 qPrintable(QStringLiteral("still barking off the spot: %1").arg(after)));
    }

    void closingThePanelParksTheCompanionAndStopsTheSound() {
        QVERIFY(startRecording());
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(panel), at(character) + QPoint(-7, 200), 3000);
        const QPoint spot = at(character);
        const QString companion = bark(panel);
        QVERIFY(!companion.isEmpty());
        d.activate(panel);

        // Close it while a bark is sounding.
        const qint64 onset = waitForLoud(mark(), 5000);
        QVERIFY2(onset >= 0, "no bark heard");
        // The window manager's own close (the close box's action), not a kill of the window.
        d.key(QStringLiteral("alt+F4"));
        const qint64 closedAt = mark();

        QTRY_VERIFY_WITH_TIMEOUT(d.findWindows(kPanelTitle, false).isEmpty(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(d.findWindows(kCompanionTitle).isEmpty(), 3000);
        const QString back = d.waitForWindow(kCharacterTitle, 3000);
        QVERIFY(!back.isEmpty());
        QCOMPARE(at(back), spot);

        recordFor(3500);
        const qint64 end = mark();
        // The bark in flight is cut short, and the parked companion stays silent.
        qint64 lastLoud = -1;
        for (qint64 i = onset; i + ms(50) <= end; i += ms(10))
            if (rms(i, i + ms(50)) > kSilent)
                lastLoud = i + ms(50);
        const qint64 sounded = (lastLoud - onset) * 1000 / kRate;
        const qint64 closeAfter = (closedAt - onset) * 1000 / kRate;
        qInfo("close sent %lld ms into the bark; sound lasted %lld ms of its %lld", closeAfter,
              sounded, kBarkMs);
        if (closeAfter < kBarkMs - 200)
            QVERIFY2(sounded < kBarkMs - 50,
                     qPrintable(QStringLiteral("the bark played on: %1 ms").arg(sounded)));
        QVERIFY2(loudest(closedAt + ms(kBarkMs), end) < kSilent, "sound after the panel closed");
    }

    void rightClickOnTheCompanionEndsAtOnce() {
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        const QString companion = bark(panel);
        QVERIFY(!companion.isEmpty());
        const QPoint on = at(companion) + kOnFigure;
        d.moveTo(on);
        QElapsedTimer t;
        t.start();
        d.xdotool({QStringLiteral("click"), QStringLiteral("3")});
        QVERIFY(program->waitForFinished(3000));
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
        QVERIFY(d.findWindows(kCompanionTitle, false).isEmpty());
    }

    void homePageOffer_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Enter takes the default, Yes") << QStringLiteral("Return") << true;
        QTest::newRow("alt+N is No") << QStringLiteral("alt+n") << false;
        QTest::newRow("Escape declines") << QStringLiteral("Escape") << false;
    }
    void homePageOffer() {
        QFETCH(QString, answer);
        QFETCH(bool, opens);
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        d.click(at(panel) + panelButton(PanelButton::HomePage));
        const QString box = d.waitForWindow(kQuestionTitle, 5000);
        QVERIFY2(!box.isEmpty(), "no question after HP");
        d.activate(box);
        d.key(answer);
        QTRY_VERIFY_WITH_TIMEOUT(d.findWindows(kQuestionTitle, false).isEmpty(), 3000);

        const QString page =
            QDir(d.programFolder()).absoluteFilePath(QStringLiteral("hp/index.html"));
        if (opens) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), 10000);
            QFile f(opened);
            QTRY_VERIFY_WITH_TIMEOUT(f.size() > 0, 2000);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QStringList args =
                QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(args.size(), 1);
            const QString arg = args.first();
            qInfo("the browser was asked to open %s", qPrintable(arg));
            const QString asPath =
                arg.startsWith(QLatin1String("file:")) ? QUrl(arg).toLocalFile() : arg;
            QCOMPARE(QFileInfo(asPath).canonicalFilePath(), QFileInfo(page).canonicalFilePath());
            QVERIFY(QFileInfo::exists(asPath));
        } else {
            QThread::msleep(2500);
            QVERIFY2(!QFile::exists(opened), "a browser started after No");
        }
        // The program goes on; the title keeps the button's hover text.
        QVERIFY2(
            !program->waitForFinished(200),
            qPrintable(QStringLiteral("the program ended with code %1").arg(program->exitCode())));
        QCOMPARE(d.findWindows(QStringLiteral("作者のHP")), QStringList{panel});
    }

    void hoveringReceiveLeavesItsTextInTheTitle() {
        QVERIFY(start(300, 150));
        const QString panel = openPanel();
        QVERIFY(!panel.isEmpty());
        const QPoint p = at(panel) + panelButton(PanelButton::Check);
        d.moveTo(p - QPoint(3, 0));
        d.moveTo(p);
        QVERIFY(!d.waitForWindow(QStringLiteral("メールチェック"), 3000).isEmpty());
        d.moveTo(QPoint(900, 700));
        QThread::msleep(500);
        QVERIFY(d.findWindows(kPanelTitle).isEmpty());
        QCOMPARE(d.findWindows(QStringLiteral("メールチェック")), QStringList{panel});
    }
};

QTEST_GUILESS_MAIN(TestE2ePanel)
#include "test_e2e_panel.moc"
