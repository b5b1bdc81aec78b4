// The real program on a private X desktop: the startup character's window, outline, animation,
// screen keeping and pointer handling.

#include "E2e.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <QThread>

using namespace e2e;

class TestE2eMascot : public QObject {
    Q_OBJECT
    Desktop d;
    QProcess* program = nullptr;
    QString window;

    // Starts the program with the pointer at (x, y) and waits for the character.
    bool startAt(int x, int y) {
        program = launchAt(d, QPoint(x, y));
        window = d.waitForWindow(kCharacterTitle);
        return !window.isEmpty();
    }
    bool waitForFirstTick() { return waitForOutline(d, window); }

  private slots:
    void initTestCase() {
        QString why;
        QVERIFY2(d.start(&why), qPrintable(why));
        QVERIFY(d.writeCompleteSettings());
    }

    void cleanup() { endProgram(d, program); }

    void appearsAtThePointerAboveOthersWithoutTaskbarEntry() {
        QVERIFY(startAt(300, 200));
        const WindowInfo w = d.info(window);
        QCOMPARE(w.geometry, QRect(300, 200, 120, 180));
        const QStringList state = d.netWmState(window);
        QVERIFY2(state.contains(QStringLiteral("_NET_WM_STATE_ABOVE")),
                 qPrintable(state.join(' ')));
        QVERIFY2(state.contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")),
                 qPrintable(state.join(' ')));
        // No border: the window manager's frame adds nothing around the picture.
        const QString frame =
            d.tool(QStringLiteral("xprop"),
                   {QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS")});
        QVERIFY2(frame.contains(QLatin1String("0, 0, 0, 0")), qPrintable(frame));
    }

    void outlineAfterFirstTickIsTheFigure() {
        QVERIFY(startAt(200, 150));
        QVERIFY2(waitForFirstTick(), "no shape after the first tick");
        // The first tick shows frame 1 (picture B): the shape is exactly its non-white pixels.
        QRegion shape;
        for (const QRect& r : d.shapeRects(window))
            shape += r;
        const QImage b = frameImage('B');
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 120; ++x) {
                const bool figure = (b.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
                if (shape.contains(QPoint(x, y)) != figure)
                    QFAIL(qPrintable(
                        QStringLiteral("shape differs from picture B at %1,%2").arg(x).arg(y)));
            }
        QVERIFY(!shape.contains(QPoint(0, 0)));
        d.saveScreenshot(shotPath(QStringLiteral("mascot-dozing.png")));
    }

    void clicksOnTheCutAwayCornerReachTheDesktop() {
        QVERIFY(startAt(200, 150));
        QVERIFY(waitForFirstTick());
        // The right button ends the program when it hits the window; on the corner it must not.
        d.click(QPoint(201, 151), 3);
        QVERIFY(!program->waitForFinished(1000));
        d.key(QStringLiteral("Escape"));
    }

    void framesChangeEveryTwoSeconds() {
        QVERIFY(startAt(100, 100));
        QElapsedTimer t;
        t.start();
        // Every change of picture, with the span it happened in: after the previous screenshot
        // began, before this one ended. Pictures B, C, C, B follow A, so changes come at about
        // 2, 4 and 8 s. A loaded machine makes screenshots slow, not the ticks.
        struct Change {
            qint64 after, before;
            char picture;
        };
        QList<Change> changes;
        char last = 0;
        qint64 previousStart = 0;
        while (t.elapsed() < 9000) {
            const qint64 start = t.elapsed();
            const QImage screen = d.screenshot();
            const char now = shownPicture(screen, d.info(window).geometry.topLeft());
            if (now != last && now != '?') {
                changes << Change{previousStart, t.elapsed(), now};
                last = now;
            }
            previousStart = start;
            QThread::msleep(100);
        }
        QString seen;
        QByteArray pictures;
        for (const Change& c : changes) {
            seen +=
                QStringLiteral("%1@%2..%3 ").arg(QLatin1Char(c.picture)).arg(c.after).arg(c.before);
            pictures += c.picture;
        }
        QCOMPARE(pictures, QByteArray("ABCB"));
        // The time between two changes, as far as the screenshots can tell it.
        const auto between = [&](int a, int b, qint64 low, qint64 high) {
            return changes[b].before - changes[a].after > low &&
                   changes[b].after - changes[a].before < high;
        };
        QVERIFY2(between(1, 2, 1500, 2600), qPrintable(seen));
        QVERIFY2(between(2, 3, 3500, 4600), qPrintable(seen));
    }

    void draggedPastTheEdgeComesBackAtTheNextTick() {
        QVERIFY(startAt(400, 300));
        QVERIFY(waitForFirstTick());
        const QPoint grab = QPoint(400, 300) + kOnFigure;
        d.moveTo(grab);
        d.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        // A hand starts with a small motion; the window manager's move starts with it.
        d.moveTo(grab - QPoint(1, 1));
        QThread::msleep(50);
        for (int x = grab.x(); x >= 10; x -= 40) {
            d.moveTo(QPoint(x, grab.y() - 100));
            QThread::msleep(20);
        }
        d.moveTo(QPoint(10, grab.y() - 100));
        QThread::msleep(100);
        d.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        QThread::msleep(100);
        const QRect dragged = d.info(window).geometry;
        // The window follows the pointer (within the pixel that started the move) past the left
        // edge.
        QVERIFY2(qAbs(dragged.top() - 200) <= 2 && dragged.left() < -40,
                 qPrintable(QStringLiteral("the window did not follow the drag: %1,%2")
                                .arg(dragged.left())
                                .arg(dragged.top())));
        QTRY_COMPARE_WITH_TIMEOUT(d.info(window).geometry.topLeft(), QPoint(0, dragged.top()),
                                  3000);
    }

    // A drag moves the window by the pointer's whole way from the press; a double click whose
    // first press shakes by a pixel is still a double click.
    void dragFollowsTheWholeWayAndShakyDoubleClickOpensThePanel() {
        QVERIFY(startAt(300, 200));
        QVERIFY(waitForFirstTick());
        const QPoint grab = QPoint(300, 200) + kOnFigure;
        const QPoint by(150, 60);
        d.moveTo(grab);
        d.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        for (int i = 1; i <= 10; ++i) {
            const QPoint p = grab + by * i / 10;
            d.moveTo(p);
            QThread::msleep(20);
        }
        d.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        QTRY_COMPARE_WITH_TIMEOUT(d.info(window).geometry.topLeft(), QPoint(300, 200) + by, 2000);

        const QPoint on = d.info(window).geometry.topLeft() + kOnFigure;
        d.moveTo(on);
        d.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        d.moveTo(on + QPoint(1, 0));
        d.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        d.xdotool({QStringLiteral("click"), QStringLiteral("1")});
        QVERIFY2(!d.waitForWindow(kPanelTitle, 3000).isEmpty(),
                 "no panel after a shaky double click");
    }

    // On a machine whose cores are all busy, the press is handled late, when the pointer has
    // already moved on: the drag still ends with the grabbed point under the pointer.
    void dragEndsUnderThePointerUnderLoad() {
        QVERIFY(startAt(300, 200));
        QVERIFY(waitForFirstTick());
        QList<QProcess*> busy;
        auto stopLoad = qScopeGuard([&] {
            for (QProcess* p : busy) {
                p->kill();
                p->waitForFinished(3000);
                delete p;
            }
        });
        for (int i = 0; i < 2 * QThread::idealThreadCount(); ++i) {
            busy << new QProcess;
            busy.last()->start(QStringLiteral("sh"),
                               {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        }
        const QPoint grab = QPoint(300, 200) + kOnFigure;
        const QPoint by(480, 120);
        d.moveTo(grab);
        d.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
        for (int i = 1; i <= 12; ++i)
            d.moveTo(grab + by * i / 12);
        d.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        QTRY_COMPARE_WITH_TIMEOUT(d.info(window).geometry.topLeft(), QPoint(300, 200) + by, 5000);
    }

    // A move by another program holds: the next ticks keep the window where it was put.
    void moveFromOutsideHolds() {
        QVERIFY(startAt(300, 200));
        QVERIFY(waitForFirstTick());
        d.xdotool(
            {QStringLiteral("windowmove"), window, QStringLiteral("500"), QStringLiteral("350")});
        QTRY_COMPARE_WITH_TIMEOUT(d.info(window).geometry.topLeft(), QPoint(500, 350), 3000);
        runEvents(4500);
        QCOMPARE(d.info(window).geometry.topLeft(), QPoint(500, 350));
    }

    void rightButtonEndsAtOnce() {
        QVERIFY(startAt(300, 300));
        QVERIFY(waitForFirstTick());
        const QPoint on = QPoint(300, 300) + kOnFigure;
        QElapsedTimer t;
        d.moveTo(on);
        t.start();
        d.xdotool({QStringLiteral("click"), QStringLiteral("3")});
        QVERIFY(program->waitForFinished(2000));
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
        QVERIFY(d.findWindows(kCharacterTitle).isEmpty());
    }

    void secondStartShowsNothingAndEnds() {
        QVERIFY(startAt(300, 300));
        QProcess* second = d.launch();
        QVERIFY(second->waitForFinished(5000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(d.findWindows(kCharacterTitle).size(), 1);
        // The first one lives on.
        QVERIFY(!program->waitForFinished(500));
    }

    void pointerInTheBottomRightCorner() {
        QVERIFY(startAt(1000, 700));
        QCOMPARE(d.info(window).geometry.topLeft(), QPoint(1000, 700));
        QVERIFY(waitForFirstTick());
        QTRY_COMPARE_WITH_TIMEOUT(d.info(window).geometry.topLeft(), QPoint(1024 - 120, 768 - 180),
                                  2000);
    }
};

QTEST_GUILESS_MAIN(TestE2eMascot)
#include "test_e2e_mascot.moc"
