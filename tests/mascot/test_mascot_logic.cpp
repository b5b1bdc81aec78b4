// The tick's screen keeping on one or more monitors and its frame choice, the outline builder
// against the pixels, and a drag across monitors of different device pixel ratios.

#include "MixedScale.h"
#include "Outline.h"
#include "Tick.h"

#include <QImage>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Every point of the scan (181 x 181 at 1x) is inside the region exactly when its colour differs
// from the background (off the picture counts as a colour).
bool outlineMatchesPixels(const QImage& img, const QRegion& region, QString* why,
                          int scan = kOutlineScan) {
    const qint64 bg = pictureColour(img, 0, 0);
    // The region painted point by point, so a large scan stays quick to check.
    QImage painted(scan, scan, QImage::Format_RGB32);
    painted.fill(Qt::black);
    for (const QRect& r : region)
        for (int y = qMax(0, r.top()); y <= qMin(scan - 1, r.bottom()); ++y)
            for (int x = qMax(0, r.left()); x <= qMin(scan - 1, r.right()); ++x)
                painted.setPixel(x, y, qRgb(255, 255, 255));
    for (int x = 0; x < scan; ++x) {
        for (int y = 0; y < scan; ++y) {
            const bool want = pictureColour(img, x, y) != bg;
            if ((painted.pixel(x, y) == qRgb(255, 255, 255)) != want) {
                *why = QStringLiteral("point %1,%2 should be %3")
                           .arg(x)
                           .arg(y)
                           .arg(want ? "in" : "out");
                return false;
            }
        }
    }
    // Nothing beyond the scan.
    if (region.boundingRect().right() >= scan || region.boundingRect().bottom() >= scan) {
        *why = QStringLiteral("region reaches past the scan");
        return false;
    }
    return true;
}

QImage blank(QColor bg = Qt::white) {
    QImage img(120, 180, QImage::Format_RGB32);
    img.fill(bg);
    return img;
}

} // namespace

class TestMascotLogic : public QObject {
    Q_OBJECT
  private slots:
    void screenKeeping_data() {
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("top");
        QTest::addColumn<qint32>("expLeft");
        QTest::addColumn<qint32>("expTop");
        // Screen 19200 x 14400 twips (1280 x 960 px), frame 1800 x 2700.
        QTest::newRow("inside stays") << 3000.f << 4000.f << 3000 << 4000;
        QTest::newRow("left of screen") << -15.f << 100.f << 0 << 100;
        QTest::newRow("above screen") << 100.f << -2700.f << 100 << 0;
        QTest::newRow("exact touch right") << 17400.f << 0.f << 17400 << 0;
        QTest::newRow("one twip past right") << 17401.f << 0.f << 17400 << 0;
        QTest::newRow("exact touch bottom") << 0.f << 11700.f << 0 << 11700;
        QTest::newRow("past bottom-right") << 19000.f << 14000.f << 17400 << 11700;
        QTest::newRow("half rounds to even down") << 100.5f << 200.5f << 100 << 200;
        QTest::newRow("half rounds to even up") << 101.5f << 201.5f << 102 << 202;
        QTest::newRow("rounding brings it to the edge") << 17400.4f << 11700.4f << 17400 << 11700;
        QTest::newRow("rounding past the edge") << 17400.6f << 11700.6f << 17400 << 11700;
        QTest::newRow("minus a half is zero") << -0.5f << -0.5f << 0 << 0;
    }
    void screenKeeping() {
        QFETCH(float, left);
        QFETCH(float, top);
        QFETCH(qint32, expLeft);
        QFETCH(qint32, expTop);
        TickInput in{left, top, 1800, 2700, 19200, 14400};
        qint32 l = -1, t = -1;
        keepOnScreen(in, l, t);
        QCOMPARE(l, expLeft);
        QCOMPARE(t, expTop);
    }

    void monitorKeeping_data() {
        QTest::addColumn<QList<QRectF>>("monitors");
        QTest::addColumn<float>("left");
        QTest::addColumn<float>("top");
        QTest::addColumn<qint32>("expLeft");
        QTest::addColumn<qint32>("expTop");
        // Monitors of 1280 x 1024 px (19200 x 15360 twips); the frame is 1800 x 2700.
        const QRectF first(0, 0, 19200, 15360), second(19200, 0, 19200, 15360);
        const QList<QRectF> pair{first, second};
        QTest::newRow("on the second stays") << pair << 30000.f << 4000.f << 30000 << 4000;
        QTest::newRow("past the second's right edge") << pair << 37000.f << 4000.f << 36600 << 4000;
        QTest::newRow("past the second's bottom edge")
            << pair << 30000.f << 14000.f << 30000 << 12660;
        QTest::newRow("astride, centre on the second")
            << pair << 18500.f << 4000.f << 19200 << 4000;
        QTest::newRow("astride, centre on the first") << pair << 18000.f << 4000.f << 17400 << 4000;
        QTest::newRow("centre on the line between them goes right")
            << pair << 18300.f << 4000.f << 19200 << 4000;
        QTest::newRow("beyond the second, nearest is the second")
            << pair << 45000.f << -5000.f << 36600 << 0;
        QTest::newRow("second unplugged")
            << QList<QRectF>{first} << 30000.f << 4000.f << 17400 << 4000;
        const QRectF leftOfPrimary(-19200, 0, 19200, 15360);
        QTest::newRow("left of the primary stays")
            << QList<QRectF>{first, leftOfPrimary} << -10000.f << 4000.f << -10000 << 4000;
        QTest::newRow("past the outer edge of the left one")
            << QList<QRectF>{first, leftOfPrimary} << -20000.f << 4000.f << -19200 << 4000;
        // A 1024 x 768 px monitor beside the first, tops aligned: below it lies no monitor.
        const QRectF shorter(19200, 0, 15360, 11520);
        QTest::newRow("below a shorter monitor, nearest is that one")
            << QList<QRectF>{first, shorter} << 25000.f << 11000.f << 25000 << 8820;
        // A gap of 4800 twips between the two: a centre in the middle is as near to both.
        QTest::newRow("as near to both, the primary wins")
            << QList<QRectF>{first, QRectF(24000, 0, 19200, 15360)} << 20700.f << 4000.f << 17400
            << 4000;
        QTest::newRow("no monitor, only rounding")
            << QList<QRectF>{} << 100.5f << -7000.5f << 100 << -7000;
    }
    void monitorKeeping() {
        QFETCH(QList<QRectF>, monitors);
        QFETCH(float, left);
        QFETCH(float, top);
        QFETCH(qint32, expLeft);
        QFETCH(qint32, expTop);
        qint32 l = 0, t = 0;
        keepOnScreen(onMonitors(left, top, 1800, 2700, monitors), l, t);
        QCOMPARE(l, expLeft);
        QCOMPARE(t, expTop);
    }

    void screenSmallerThanFrame() {
        // The right and bottom edges win: the frame's far edges touch the screen's.
        TickInput in{500, 500, 1800, 2700, 1500, 2000};
        qint32 l, t;
        keepOnScreen(in, l, t);
        QCOMPARE(l, -300);
        QCOMPARE(t, -700);
    }

    void oddScreenSizeRoundsToEven() {
        TickInput in{5000, 5000, 1800, 2700, 1800.f + 1000.5f, 2700.f + 1001.5f};
        qint32 l, t;
        keepOnScreen(in, l, t);
        QCOMPARE(l, 1000);
        QCOMPARE(t, 1002);
    }

    void frameOrder() {
        qint16 k = 0;
        QList<int> frames;
        for (int i = 0; i < 15; ++i)
            frames << nextFrame(k, false);
        QCOMPARE(frames, (QList<int>{1, 2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 1}));
        QCOMPARE(k, qint16(1));
    }

    void barkModeHoldsFrameZeroAndKeepsCounter() {
        qint16 k = 0;
        nextFrame(k, false);
        nextFrame(k, false);
        nextFrame(k, false);
        QCOMPARE(k, qint16(3));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(nextFrame(k, true), 0);
        QCOMPARE(k, qint16(3));
        QCOMPARE(nextFrame(k, false), 4);
    }

    void counterBeyondSevenRestarts() {
        qint16 k = 12;
        QCOMPARE(nextFrame(k, false), 1);
    }

    void tickCombinesBoth() {
        qint16 k = 7;
        const TickResult r = animationTick({-10, 20000, 1800, 2700, 19200, 14400}, k, false);
        QCOMPARE(r.left, 0);
        QCOMPARE(r.top, 11700);
        QCOMPARE(r.frame, 1);
    }

    void outlineShapes_data() {
        QTest::addColumn<QImage>("picture");
        QImage plain = blank();
        QTest::newRow("all background") << plain;

        QImage disc = blank();
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 120; ++x)
                if ((x - 60) * (x - 60) + (y - 90) * (y - 90) < 40 * 40)
                    disc.setPixel(x, y, qRgb(200, 150, 100));
        QTest::newRow("disc") << disc;

        // The background colour inside the figure is cut away too: matched exactly, no fill.
        QImage holed = disc;
        for (int y = 85; y < 95; ++y)
            for (int x = 55; x < 65; ++x)
                holed.setPixel(x, y, qRgb(255, 255, 255));
        // One step off white stays.
        holed.setPixel(70, 90, qRgb(254, 255, 255));
        QTest::newRow("background colour inside") << holed;

        QImage noisy = blank();
        QRandomGenerator rng(42);
        for (int y = 0; y < 180; ++y)
            for (int x = 0; x < 120; ++x)
                if (rng.bounded(3) == 0)
                    noisy.setPixel(x, y, qRgb(10, 20, 30));
        QTest::newRow("noise needs many rectangles") << noisy;

        QImage other = blank(QColor(0, 128, 0));
        other.setPixel(0, 1, qRgb(255, 255, 255));
        QTest::newRow("background from pixel 0,0") << other;

        QImage small(20, 10, QImage::Format_RGB32);
        small.fill(Qt::white);
        QTest::newRow("small picture") << small;
    }
    void outlineShapes() {
        QFETCH(QImage, picture);
        const FrameRegionSlot slot = buildOutline(picture);
        QString why;
        QVERIFY2(outlineMatchesPixels(picture, regionFromSlot(slot), &why), qPrintable(why));
        // The strip right of the picture and the row below it always belong to the outline.
        QVERIFY(regionFromSlot(slot).contains(QRect(120, 0, 61, 181)));
        QVERIFY(regionFromSlot(slot).contains(QRect(0, 180, 181, 1)));
        // Drawn by its alpha channel, the picture shows exactly its outline, in its own colours.
        const QImage cut = cutAway(picture);
        const QRegion outline = regionFromSlot(slot);
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb c = cut.pixel(x, y);
                wrong += outline.contains(QPoint(x, y)) ? c != (picture.pixel(x, y) | 0xFF000000)
                                                        : c != 0;
            }
        QCOMPARE(wrong, 0);
    }

    void rectanglesAreBandedAndDisjoint() {
        QImage noisy = blank();
        QRandomGenerator rng(7);
        for (int i = 0; i < 3000; ++i)
            noisy.setPixel(int(rng.bounded(120)), int(rng.bounded(180)), qRgb(1, 2, 3));
        const FrameRegionSlot slot = buildOutline(noisy);
        qint64 area = 0;
        for (const QRect& r : slot.rects)
            area += qint64(r.width()) * r.height();
        qint64 truth = 0;
        for (int x = 0; x < kOutlineScan; ++x)
            for (int y = 0; y < kOutlineScan; ++y)
                truth += pictureColour(noisy, x, y) != 0xFFFFFF;
        // Rectangles that overlapped would count some pixels twice.
        QCOMPARE(area, truth);
        // The slot holds as many rectangles as the outline needs, far more than a fixed 301 here.
        QVERIFY(slot.rects.size() > 301);
    }

    void shippedFramesFitTheirOutlines() {
        for (const int scale : {1, 2, 3})
            for (const char letter : QByteArray("ABCDEFG")) {
                const QString name =
                    QStringLiteral("%1%2")
                        .arg(QLatin1Char(letter))
                        .arg(scale > 1 ? QStringLiteral("@%1x").arg(scale) : QString());
                const QImage img(QStringLiteral(":/frames/%1.png").arg(name));
                QVERIFY2(!img.isNull(), "frame picture missing from the resources");
                QCOMPARE(img.size(), QSize(120, 180) * scale);
                // The scan covers the picture and the same strip beyond it, at the picture's scale.
                const int scan = outlineScan(scale);
                QCOMPARE(scan, kOutlineScan * scale);
                const FrameRegionSlot slot = buildOutline(img, scan);
                QString why;
                QVERIFY2(outlineMatchesPixels(img.convertToFormat(QImage::Format_RGB32),
                                              regionFromSlot(slot), &why, scan),
                         qPrintable(QStringLiteral("%1: %2").arg(name, why)));
            }
    }

    // A 120 x 180 window dragged device pixel by device pixel across the line between a 1x and a
    // 2x monitor (Qt's pixels: 0,0 1280x1024 and 1280,0 640x512) keeps the grabbed point exactly
    // under the pointer on either side, and never moves up or down; near the line, where the
    // window doubles or halves, it may give way to the side by less than its width.
    void dragAcrossMixedRatios_data() {
        QTest::addColumn<QPoint>("grab");
        QTest::addColumn<int>("step");
        QTest::newRow("grabbed left, to the right") << QPoint(10, 165) << 1;
        QTest::newRow("grabbed in the middle, to the right") << QPoint(60, 90) << 1;
        QTest::newRow("grabbed right, to the right") << QPoint(110, 20) << 1;
        QTest::newRow("grabbed left, to the left") << QPoint(10, 165) << -1;
        QTest::newRow("grabbed right, to the left") << QPoint(110, 20) << -1;
    }
    void dragAcrossMixedRatios() {
        QFETCH(QPoint, grab);
        QFETCH(int, step);
        const QList<ScaledMonitor> monitors{{QRect(0, 0, 1280, 1024), 1},
                                            {QRect(1280, 0, 640, 512), 2}};
        const QSize window(120, 180);
        const int deviceY = 464;
        int current = step > 0 ? 0 : 1;
        for (int x = step > 0 ? 1000 : 1700; x >= 1000 && x <= 1700; x += step) {
            // The pointer as Qt gives it: in the pixels of the monitor under it.
            const QPoint pointer =
                x < 1280 ? QPoint(x, deviceY) : QPoint(1280 + (x - 1280) / 2, deviceY / 2);
            if (QPoint(x, deviceY) != toDevicePixels(pointer, monitors))
                continue; // a device pixel Qt's pointer cannot name
            const QPoint place = dragPlace(pointer, grab, window, current, monitors);
            current = mappingMonitor(QRect(place, window), current, monitors);
            const ScaledMonitor& m = monitors[current];
            const QPoint device = m.geometry.topLeft() + (place - m.geometry.topLeft()) * m.ratio;
            const QPoint miss = device + grab * m.ratio - QPoint(x, deviceY);
            const QString at =
                QStringLiteral("pointer at %1: miss %2,%3").arg(x).arg(miss.x()).arg(miss.y());
            QVERIFY2(miss.y() == 0, qPrintable(at));
            const bool inOne = m.geometry.contains(QRect(place, window));
            QVERIFY2(inOne ? miss.x() == 0 : qAbs(miss.x()) < window.width() * m.ratio,
                     qPrintable(at));
        }
        QCOMPARE(current, step > 0 ? 1 : 0);
    }

    // With one device pixel ratio everywhere the window goes where the pointer less the grab is.
    void dragOnOneRatio_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("1.5x") << 1.5;
    }
    void dragOnOneRatio() {
        QFETCH(qreal, ratio);
        const QList<ScaledMonitor> monitors{{QRect(0, 0, 800, 600), ratio},
                                            {QRect(800, 0, 800, 600), ratio}};
        for (const QPoint& pointer : {QPoint(5, 7), QPoint(799, 300), QPoint(1203, 599)})
            QCOMPARE(dragPlace(pointer, QPoint(60, 165), QSize(120, 180), 0, monitors),
                     pointer - QPoint(60, 165));
    }
};

QTEST_MAIN(TestMascotLogic)
#include "test_mascot_logic.moc"
