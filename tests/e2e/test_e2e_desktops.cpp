// The real program in the compositors of the desktops people use: mutter composing an X screen,
// and gnome-shell's Wayland session with XWayland. Each row is one journey on a fresh desktop,
// judged by what the compositor itself draws: the puppy shaped from its first frame, nothing
// left behind by a drag and two frame changes, on top of a focused window, clicks beside the
// figure reaching the window beneath, drag, double click and right click, and a move from
// outside kept (X11).

#include "E2e.h"

#include <QFile>
#include <QTest>

using namespace e2e;

namespace {

// The three pictures the dozing character shows.
const QByteArray kDozing("ABC");

bool near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8 &&
           qAbs(qBlue(a) - qBlue(b)) <= 8;
}

// Pixels of the window's rectangle at `at` whose cut-away part does not show `behind` (what the
// screen showed there without the window), or whose figure is not the picture's.
int misdrawn(const QImage& shot, const QPoint& at, const QImage& behind, char letter) {
    const QImage picture = frameImage(letter);
    const QRgb background = picture.pixel(0, 0);
    int wrong = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QPoint p = at + QPoint(x, y);
            if (!shot.rect().contains(p))
                continue;
            const QRgb want =
                picture.pixel(x, y) == background ? behind.pixel(p) : picture.pixel(x, y);
            wrong += near(shot.pixel(p), want) ? 0 : 1;
        }
    return wrong;
}

// A point of the window cut away in every dozing picture, near its top left corner.
QPoint cutAwayPoint() {
    for (int d = 2; d < 40; ++d) {
        bool cut = true;
        for (char letter : kDozing) {
            const QImage picture = frameImage(letter);
            cut = cut && picture.pixel(d, d) == picture.pixel(0, 0);
        }
        if (cut)
            return QPoint(d, d);
    }
    return QPoint(0, 0);
}

// Waits for a press that the window beneath reports at p (anywhere when p is null: a Wayland
// window does not know where on the screen it is).
bool pressReached(QProcess* beneath, const QPoint& p, int button) {
    const QByteArray want = p.isNull()
                                ? QByteArrayLiteral("press ")
                                : QByteArrayLiteral("press ") + QByteArray::number(p.x()) + ' ' +
                                      QByteArray::number(p.y()) + ' ' + QByteArray::number(button);
    QByteArray seen;
    return waitUntil(
        [&] {
            seen += beneath->readAllStandardOutput();
            return seen.contains(want);
        },
        3000);
}

// Waits for the window beneath to say it is shown, and for the compositor to draw it.
bool beneathShown(const Desktop& d, QProcess* beneath, QRgb colour = qRgb(200, 0, 200)) {
    QByteArray seen;
    return waitUntil(
        [&] {
            seen += beneath->readAllStandardOutput();
            if (!seen.contains("shown"))
                return false;
            const QImage shot = d.screenshot();
            return !shot.isNull() && near(shot.pixel(d.screenSize().width() - 20, 400), colour);
        },
        15000);
}

} // namespace

class TestE2eDesktops : public QObject {
    Q_OBJECT

    // Waits until the screenshot shows one of the dozing pictures at the window's place, drawn
    // over what was behind it; every screenshot on the way must show nothing but that (or
    // nothing of the window yet). Returns the letter, or 0.
    char waitDrawn(const Desktop& d, const QPoint& at, const QImage& behind, QString* why) {
        char shown = 0;
        QImage shot;
        waitUntil(
            [&] {
                shot = d.screenshot();
                if (shot.isNull())
                    return false;
                if (misdrawn(shot, at, behind, 'A') == misdrawn(behind, at, behind, 'A'))
                    return false; // not drawn yet
                for (char letter : kDozing)
                    if (misdrawn(shot, at, behind, letter) == 0)
                        shown = letter;
                if (!shown && why->isEmpty()) {
                    shot.save(shotPath(QStringLiteral("desktops-misdrawn.png")));
                    *why = QStringLiteral("misdrawn at %1,%2: %3 pixels off picture A")
                               .arg(at.x())
                               .arg(at.y())
                               .arg(misdrawn(shot, at, behind, 'A'));
                }
                return shown != 0;
            },
            8000);
        if (!shown && why->isEmpty()) {
            shot.save(shotPath(QStringLiteral("desktops-not-drawn.png")));
            *why = QStringLiteral("not drawn at %1,%2 (desktops-not-drawn.png)")
                       .arg(at.x())
                       .arg(at.y());
        }
        return shown;
    }

  private slots:
    void journey_data() {
        QTest::addColumn<QString>("compositor");
        QTest::newRow("mutter on X11") << QStringLiteral("mutter");
        QTest::newRow("GNOME on Wayland") << QStringLiteral("gnome");
        QTest::newRow("KDE on Wayland") << QStringLiteral("kwin");
    }

    void journey() {
        QFETCH(QString, compositor);
        const bool wayland = compositor != QStringLiteral("mutter");
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        Desktop d;
        QString why;
        const bool up = !wayland                                ? d.startMutterX11(&why)
                        : compositor == QStringLiteral("gnome") ? d.startGnomeWayland(&why)
                                                                : d.startKWinWayland(&why);
        QVERIFY2(up, qPrintable(why));
        QVERIFY(d.writeCompleteSettings());
        const QString placeFile =
            d.programFolder() + QStringLiteral("/★MailData/character-place.txt");
        // The desktop as the compositor settles on it, which takes it a moment after its start.
        QImage desktop;
        QVERIFY(waitUntil(
            [&] {
                const QImage last = desktop;
                runEvents(300);
                desktop = d.screenshot();
                return !desktop.isNull() && desktop == last;
            },
            20000));

        // X11: at the pointer. Wayland, where the pointer is unknown: the middle of the screen on
        // the first start.
        const QPoint start = !wayland ? QPoint(300, 300)
                                      : QPoint((d.screenSize().width() - 120) / 2,
                                               (d.screenSize().height() - 180) / 2);
        QProcess* program = launchAt(d, !wayland ? start : QPoint(5, 700));
        const QString character = d.waitForWindow(kCharacterTitle);
        QVERIFY(!character.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(d.info(character).geometry, QRect(start, QSize(120, 180)), 5000);
        // Shaped as drawn from the first frame the compositor shows, before the first tick.
        QVERIFY2(waitDrawn(d, start, desktop, &why) == 'A', qPrintable(why));
        d.saveScreenshot(shotPath(tag + QStringLiteral("-1-first-frame.png")));

        // From the first tick on, the X shape, for showing and for clicks, within the window.
        QVERIFY(waitForOutline(d, character));
        for (const bool input : {false, true}) {
            QRect extent;
            for (const QRect& r : d.shapeRects(character, input))
                extent |= r;
            QVERIFY2(QRect(0, 0, 120, 180).contains(extent) && extent.width() > 100,
                     qPrintable(QStringLiteral("%1 shape %2x%3+%4+%5")
                                    .arg(input ? "input" : "bounding")
                                    .arg(extent.width())
                                    .arg(extent.height())
                                    .arg(extent.x())
                                    .arg(extent.y())));
        }

        // Dragged, and after two frame changes: drawn at the new place only.
        const QPoint dragged = start + QPoint(300, 100);
        d.drag(start + kOnFigure, dragged + kOnFigure);
        QTRY_COMPARE_WITH_TIMEOUT(d.info(character).geometry.topLeft(), dragged, 5000);
        char before = waitDrawn(d, dragged, desktop, &why);
        QVERIFY2(before, qPrintable(why));
        // Two pictures in a row can be the same (frames 2 and 3): a change can take two ticks.
        for (int change = 0; change < 2; ++change) {
            char now = before;
            QVERIFY2(waitUntil(
                         [&] {
                             now = waitDrawn(d, dragged, desktop, &why);
                             return now && now != before;
                         },
                         15000),
                     qPrintable(why.isEmpty() ? QStringLiteral("no frame change") : why));
            before = now;
        }
        const QImage afterDrag = d.screenshot();
        afterDrag.save(shotPath(tag + QStringLiteral("-2-after-drag.png")));
        const QRect old(start, QSize(120, 180));
        int leftOver = 0;
        for (int y = old.top(); y <= old.bottom(); ++y)
            for (int x = old.left(); x <= old.right(); ++x)
                leftOver += near(afterDrag.pixel(x, y), desktop.pixel(x, y)) ? 0 : 1;
        QCOMPARE(leftOver, 0);
        if (wayland) {
            // Kept for the next start: the place in twips.
            QTRY_COMPARE_WITH_TIMEOUT(
                [&] {
                    QFile f(placeFile);
                    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                }(),
                QByteArray::number(dragged.x() * 15) + ' ' + QByteArray::number(dragged.y() * 15) +
                    '\n',
                5000);
        }

        QPoint at = dragged;
        if (!wayland) {
            // A move by another program holds over the next ticks.
            at = QPoint(520, 260);
            d.xdotool({QStringLiteral("windowmove"), character, QString::number(at.x()),
                       QString::number(at.y())});
            QTRY_COMPARE_WITH_TIMEOUT(d.info(character).geometry.topLeft(), at, 5000);
            QVERIFY(waitDrawn(d, at, desktop, &why));
            runEvents(4500);
            QCOMPARE(d.info(character).geometry.topLeft(), at);
        }

        // On top of a focused window that covers it, the cut-away parts showing that window.
        QProcess* beneath = d.launchClient(QStringLiteral(MOKOPON_WINDOW_BENEATH));
        QVERIFY(beneathShown(d, beneath));
        d.click(QPoint(d.screenSize().width() - 20, 400));
        QVERIFY(pressReached(beneath, wayland ? QPoint() : QPoint(d.screenSize().width() - 20, 400),
                             1));
        QImage magenta(d.screenSize(), QImage::Format_RGB32);
        magenta.fill(qRgb(200, 0, 200));
        QVERIFY2(waitDrawn(d, at, magenta, &why), qPrintable(why));
        d.saveScreenshot(shotPath(tag + QStringLiteral("-3-on-top.png")));

        // A click beside the figure reaches the window beneath. gnome-shell gives a click on an
        // X window's rectangle to XWayland whatever its shapes, so there it reaches an X window
        // beneath (XWayland honours the input shape), not a Wayland one.
        QProcess* xBeneath = beneath;
        if (wayland) {
            // In place of the Wayland window, which would keep the focus over a new one.
            beneath->kill();
            beneath->waitForFinished(3000);
            QProcessEnvironment x11;
            x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            xBeneath =
                d.launchCommand(QStringLiteral(MOKOPON_WINDOW_BENEATH), {QStringLiteral("#00a000")},
                                d.work(), x11, QProcess::SeparateChannels);
            QVERIFY(beneathShown(d, xBeneath, qRgb(0, 160, 0)));
            QImage green(d.screenSize(), QImage::Format_RGB32);
            green.fill(qRgb(0, 160, 0));
            QVERIFY2(waitDrawn(d, at, green, &why), qPrintable(why));
        }
        const QPoint beside = at + cutAwayPoint();
        d.click(beside);
        QVERIFY(pressReached(xBeneath, beside, 1));
        QVERIFY(program->state() == QProcess::Running);

        // Double click: the panel; right click: the end.
        QVERIFY(!openPanel(d, character).isEmpty());
        verifyRightClickEndsProgram(d, program, d.info(character).geometry.topLeft() + kOnFigure);

        if (wayland) {
            // The next start comes up where the character stood.
            program = d.launch();
            const QString again = d.waitForWindow(kCharacterTitle);
            QVERIFY(!again.isEmpty());
            QCOMPARE(d.info(again).geometry.topLeft(), at);
            endProgram(d, program);
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eDesktops)
#include "test_e2e_desktops.moc"
