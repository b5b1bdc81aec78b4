// Checks the shipped pictures, icon, bark and home page against what the character windows and
// the rest of the program rely on. The pictures are checked at every scale they are drawn at (1x,
// 2x, 3x) and at 1.5x, which the window resizes from 2x, by the same rules. The figure checks are
// also run on doctored copies of a frame, so a check that can no longer fail is noticed.

#include "DevicePictures.h"
#include "Outline.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>
#include <QtEndian>
#include <QtMath>
#include <cmath>

namespace {

const QString kAssets = QStringLiteral(MOKOPON_SOURCE_DIR "/assets");
constexpr QRgb kWhite = 0xffffffff;

// Where the puppy sits in every frame (1x pixels); tree and basket outside it must not change.
const QRectF kPuppyArea(22, 72, 76, 70);
// The scales the pictures are drawn at, and the one the window makes from the 2x pictures.
const qreal kDrawnScales[] = {1, 2, 3};
const qreal kAllScales[] = {1, 1.5, 2, 3};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct PngHeader {
    int width = 0, height = 0, bitDepth = 0, colourType = -1;
};

PngHeader pngHeader(const QByteArray& png) {
    PngHeader h;
    if (png.size() < 33 || !png.startsWith("\x89PNG\r\n\x1a\n") || png.mid(12, 4) != "IHDR")
        return h;
    const auto* d = reinterpret_cast<const uchar*>(png.constData());
    h.width = int(qFromBigEndian<quint32>(d + 16));
    h.height = int(qFromBigEndian<quint32>(d + 20));
    h.bitDepth = d[24];
    h.colourType = d[25];
    return h;
}

bool isWhite(const QImage& img, int x, int y) {
    return img.pixel(x, y) == kWhite;
}

// Rectangles of the window outline, as the character window builds it.
int outlineRects(const QImage& img, qreal scale) {
    return int(buildOutline(img, outlineScan(scale)).rects.size());
}

// Every rule a frame picture keeps, its margins and outline budget grown with its scale; each
// broken rule adds one line naming it.
QStringList figureProblems(const QImage& src, qreal scale = 1) {
    const QImage img = src.convertToFormat(QImage::Format_RGB32);
    QStringList problems;
    const int w = img.width(), h = img.height();
    if (img.pixel(0, 0) != kWhite)
        problems << QStringLiteral("background at (0,0) is not pure white");

    // White reachable from the border through white, 4-connected.
    QList<bool> reached(w * h, false);
    QList<QPoint> queue;
    auto reach = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < w && y < h && !reached[y * w + x] && isWhite(img, x, y)) {
            reached[y * w + x] = true;
            queue.append(QPoint(x, y));
        }
    };
    for (int x = 0; x < w; ++x)
        reach(x, 0), reach(x, h - 1);
    for (int y = 0; y < h; ++y)
        reach(0, y), reach(w - 1, y);
    for (qsizetype i = 0; i < queue.size(); ++i) {
        const QPoint p = queue[i];
        reach(p.x() + 1, p.y()), reach(p.x() - 1, p.y()), reach(p.x(), p.y() + 1),
            reach(p.x(), p.y() - 1);
    }

    int minX = w, maxX = -1, minY = h, maxY = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (isWhite(img, x, y)) {
                if (!reached[y * w + x])
                    problems << QStringLiteral("enclosed white at (%1,%2)").arg(x).arg(y);
                continue;
            }
            minX = qMin(minX, x), maxX = qMax(maxX, x), minY = qMin(minY, y), maxY = qMax(maxY, y);

            // The window shows exactly the non-white pixels, so the ones meeting the desktop
            // (or the window's edge) must be a dark, tinted contour: no light halo, no grey.
            bool edge = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    edge = edge || xx < 0 || yy < 0 || xx >= w || yy >= h || isWhite(img, xx, yy);
                }
            if (edge) {
                const QColor c(img.pixel(x, y));
                const int luma = (c.red() * 299 + c.green() * 587 + c.blue() * 114) / 1000;
                const int chroma = qMax(c.red(), qMax(c.green(), c.blue())) -
                                   qMin(c.red(), qMin(c.green(), c.blue()));
                if (luma > 100)
                    problems << QStringLiteral("light halo pixel at (%1,%2)").arg(x).arg(y);
                else if (chroma < 16)
                    problems << QStringLiteral("grey contour pixel at (%1,%2)").arg(x).arg(y);
            }
        }
    }
    const int leftMargin = qFloor(2 * scale), rightMargin = qFloor(3 * scale);
    if (minX < leftMargin)
        problems << QStringLiteral("figure reaches column %1 (left margin under %2)")
                        .arg(minX)
                        .arg(leftMargin);
    if (maxX > w - 1 - rightMargin)
        problems << QStringLiteral("figure reaches column %1 (right margin under %2)")
                        .arg(maxX)
                        .arg(rightMargin);
    if (minY != 0)
        problems << QStringLiteral("figure does not touch row 0");
    if (maxY != h - 1)
        problems << QStringLiteral("figure does not touch the bottom row");
    // 301 rectangles at 1x; a finer picture has as many more bands as it has more rows.
    const int rects = outlineRects(img, scale), budget = qFloor(301 * scale);
    if (rects > budget)
        problems << QStringLiteral("outline needs %1 rectangles, more than %2 (too many)")
                        .arg(rects)
                        .arg(budget);
    return problems;
}

QString framePath(char name, int scale) {
    return kAssets +
           QStringLiteral("/frames/%1%2.png").arg(QChar(name)).arg(DevicePictures::suffix(scale));
}

// A frame as the window shows it at the scale: a drawn file, or the 2x file resized for 1.5x.
QImage frame(char name, qreal scale = 1) {
    const int drawn = DevicePictures::drawnScaleFor(scale);
    const QImage img = QImage(framePath(name, drawn)).convertToFormat(QImage::Format_RGB32);
    if (drawn == scale)
        return img;
    return DevicePictures::resized(img, DevicePictures::deviceSize(QSize(120, 180), scale));
}

QByteArray scaleTag(qreal scale) {
    return QByteArray::number(scale) + 'x';
}

// Mean difference per colour channel between a picture averaged down to 1x and a 1x picture.
double differenceAt1x(const QImage& fine, const QImage& plain) {
    const int s = fine.width() / plain.width();
    double sum = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            int r = 0, g = 0, b = 0;
            for (int dy = 0; dy < s; ++dy)
                for (int dx = 0; dx < s; ++dx) {
                    const QRgb c = fine.pixel(x * s + dx, y * s + dy);
                    r += qRed(c), g += qGreen(c), b += qBlue(c);
                }
            const QRgb c = plain.pixel(x, y);
            const int n = s * s;
            sum += qAbs(r / n - qRed(c)) + qAbs(g / n - qGreen(c)) + qAbs(b / n - qBlue(c));
        }
    return sum / (3.0 * plain.width() * plain.height());
}

struct Wav {
    int format = 0, channels = 0, rate = 0, bits = 0;
    QList<qint16> samples;
};

Wav readWav(const QByteArray& b) {
    Wav wav;
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE")
        return wav;
    const auto* d = reinterpret_cast<const uchar*>(b.constData());
    qsizetype pos = 12;
    while (pos + 8 <= b.size()) {
        const QByteArray id = b.mid(pos, 4);
        const qsizetype size = qFromLittleEndian<quint32>(d + pos + 4);
        const qsizetype body = pos + 8;
        if (body + size > b.size())
            break;
        if (id == "fmt " && size >= 16) {
            wav.format = qFromLittleEndian<quint16>(d + body);
            wav.channels = qFromLittleEndian<quint16>(d + body + 2);
            wav.rate = int(qFromLittleEndian<quint32>(d + body + 4));
            wav.bits = qFromLittleEndian<quint16>(d + body + 14);
        } else if (id == "data" && wav.bits == 16) {
            for (qsizetype i = 0; i + 1 < size; i += 2)
                wav.samples.append(qFromLittleEndian<qint16>(d + body + i));
        }
        pos = body + size + (size & 1);
    }
    return wav;
}

} // namespace

class TestArtwork : public QObject {
    Q_OBJECT

  private slots:
    void frameRules_data();
    void frameRules();
    void sceneIsSharedByAllFrames_data();
    void sceneIsSharedByAllFrames();
    void sameDrawingAtEveryScale_data();
    void sameDrawingAtEveryScale();
    void puppyChanges_data();
    void puppyChanges();
    void checksCatchFaults_data();
    void checksCatchFaults();
    void icon();
    void bark();
    void homePage();
};

void TestArtwork::frameRules_data() {
    QTest::addColumn<char>("name");
    QTest::addColumn<qreal>("scale");
    for (const qreal scale : kAllScales)
        for (char c = 'A'; c <= 'G'; ++c)
            QTest::newRow(QByteArray(1, c) + ' ' + scaleTag(scale)) << c << scale;
}

void TestArtwork::frameRules() {
    QFETCH(char, name);
    QFETCH(qreal, scale);
    const int drawn = DevicePictures::drawnScaleFor(scale);
    if (drawn == scale) {
        const PngHeader h = pngHeader(readAll(framePath(name, drawn)));
        QCOMPARE(h.width, 120 * drawn);
        QCOMPARE(h.height, 180 * drawn);
        QCOMPARE(h.bitDepth, 8);
        QCOMPARE(h.colourType, 2); // truecolour without alpha: 24 bits per pixel
    }
    const QImage img = frame(name, scale);
    QCOMPARE(img.size(), DevicePictures::deviceSize(QSize(120, 180), scale));
    const QStringList problems = figureProblems(img, scale);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join(QStringLiteral("; "))));
}

void TestArtwork::sceneIsSharedByAllFrames_data() {
    QTest::addColumn<qreal>("scale");
    for (const qreal scale : kAllScales)
        QTest::newRow(scaleTag(scale)) << scale;
}

void TestArtwork::sceneIsSharedByAllFrames() {
    QFETCH(qreal, scale);
    const QImage a = frame('A', scale);
    QVERIFY(!a.isNull());
    // A resized picture's outline ring looks one device pixel around itself.
    const int reach = DevicePictures::drawnScaleFor(scale) == scale ? 0 : 1;
    const QRectF puppy(kPuppyArea.topLeft() * scale - QPointF(reach, reach),
                       kPuppyArea.size() * scale + QSizeF(2 * reach, 2 * reach));
    for (char c = 'B'; c <= 'G'; ++c) {
        const QImage other = frame(c, scale);
        QCOMPARE(other.size(), a.size());
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (!puppy.intersects(QRectF(x, y, 1, 1)) && other.pixel(x, y) != a.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("frame %1 differs from A at (%2,%3), outside "
                                                    "the puppy")
                                         .arg(QChar(c))
                                         .arg(x)
                                         .arg(y)));
    }
}

void TestArtwork::sameDrawingAtEveryScale_data() {
    QTest::addColumn<char>("name");
    QTest::addColumn<qreal>("scale");
    for (const qreal scale : kDrawnScales)
        if (scale > 1)
            for (char c = 'A'; c <= 'G'; ++c)
                QTest::newRow(QByteArray(1, c) + ' ' + scaleTag(scale)) << c << scale;
}

void TestArtwork::sameDrawingAtEveryScale() {
    // Averaged down to 1x, a finer picture is nearer to its own 1x picture than to any other: the
    // same pose, in the same place, and not another frame's.
    QFETCH(char, name);
    QFETCH(qreal, scale);
    const QImage fine = frame(name, scale);
    QCOMPARE(fine.size(), QSize(120, 180) * scale);
    const double own = differenceAt1x(fine, frame(name));
    QVERIFY2(own < 8, qPrintable(QStringLiteral("differs from its 1x picture by %1").arg(own)));
    for (char other = 'A'; other <= 'G'; ++other)
        if (other != name)
            QVERIFY2(differenceAt1x(fine, frame(other)) > own,
                     qPrintable(QStringLiteral("as near to %1 as to its own picture").arg(other)));
}

void TestArtwork::puppyChanges_data() {
    QTest::addColumn<char>("first");
    QTest::addColumn<char>("second");
    QTest::addColumn<qreal>("scale");
    const char* pairs[] = {"AB", "AC", "BC", "DE", "DF", "DG", "EF", "EG", "FG", "AD"};
    for (const qreal scale : kAllScales)
        for (const char* p : pairs)
            QTest::newRow(QByteArray(p) + ' ' + scaleTag(scale)) << p[0] << p[1] << scale;
}

void TestArtwork::puppyChanges() {
    QFETCH(char, first);
    QFETCH(char, second);
    QFETCH(qreal, scale);
    QVERIFY(frame(first, scale) != frame(second, scale));
}

void TestArtwork::checksCatchFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<qreal>("scale");
    QTest::newRow("white highlight inside") << "inner white"
                                            << "enclosed white" << 1.0;
    QTest::newRow("figure touching column 1") << "column 1"
                                              << "left margin" << 1.0;
    QTest::newRow("2x figure touching column 3") << "column 3"
                                                 << "left margin under 4" << 2.0;
    QTest::newRow("figure touching column 117") << "column 117"
                                                << "right margin" << 1.0;
    QTest::newRow("gap above the crown") << "top row cleared"
                                         << "row 0" << 1.0;
    QTest::newRow("light anti-aliasing at the edge") << "light edge"
                                                     << "light halo" << 1.0;
    QTest::newRow("grey contour") << "grey edge"
                                  << "grey contour" << 1.0;
    QTest::newRow("off-white background") << "background"
                                          << "background" << 1.0;
    QTest::newRow("ragged outline") << "ragged"
                                    << "too many" << 1.0;
}

void TestArtwork::checksCatchFaults() {
    QFETCH(QString, fault);
    QFETCH(QString, expected);
    QFETCH(qreal, scale);
    QImage img = frame('A', scale);
    QVERIFY(figureProblems(img, scale).isEmpty());

    // A contour pixel on the left of the crown, the first non-white pixel of row 50.
    int edgeX = 0;
    while (isWhite(img, edgeX, 50))
        ++edgeX;

    if (fault == QLatin1String("inner white")) {
        img.setPixel(60, 40, kWhite);
    } else if (fault == QLatin1String("column 1")) {
        img.setPixel(1, 150, qRgb(60, 40, 20));
    } else if (fault == QLatin1String("column 3")) {
        img.setPixel(3, 300, qRgb(60, 40, 20));
    } else if (fault == QLatin1String("column 117")) {
        img.setPixel(117, 150, qRgb(60, 40, 20));
    } else if (fault == QLatin1String("top row cleared")) {
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, 0, kWhite);
    } else if (fault == QLatin1String("light edge")) {
        img.setPixel(edgeX, 50, qRgb(190, 230, 160));
    } else if (fault == QLatin1String("grey edge")) {
        img.setPixel(edgeX, 50, qRgb(60, 60, 60));
    } else if (fault == QLatin1String("background")) {
        img.setPixel(0, 0, qRgb(254, 255, 255));
    } else if (fault == QLatin1String("ragged")) {
        // Specks beside the basket with a different pattern on every row.
        for (int y = 100; y < 180; ++y)
            for (int x = 4 + y % 3; x < 24; x += 3)
                img.setPixel(x, y, qRgb(60, 40, 20));
    }
    const QString found = figureProblems(img, scale).join(QStringLiteral("; "));
    QVERIFY2(found.contains(expected), qPrintable(QStringLiteral("found: ") + found));
}

void TestArtwork::icon() {
    const QString path = kAssets + QStringLiteral("/icon.png");
    const PngHeader h = pngHeader(readAll(path));
    QCOMPARE(h.width, 32);
    QCOMPARE(h.height, 32);
    QCOMPARE(h.colourType, 3); // palette
    QVERIFY(h.bitDepth <= 8);

    const QImage icon(path);
    QVERIFY(icon.colorCount() > 0 && icon.colorCount() <= 256);
    // The puppy's cream face on a yellow ground.
    const QColor corner(icon.pixel(1, 1)), centre(icon.pixel(16, 13));
    QVERIFY2(corner.red() > 200 && corner.green() > 150 && corner.blue() < 130,
             qPrintable(corner.name()));
    QVERIFY2(centre.red() > 220 && centre.green() > 200 && centre.blue() > 150,
             qPrintable(centre.name()));
}

void TestArtwork::bark() {
    const Wav wav = readWav(readAll(kAssets + QStringLiteral("/Sound/Kouka.wav")));
    QCOMPARE(wav.format, 1); // PCM
    QCOMPARE(wav.channels, 1);
    QCOMPARE(wav.bits, 16);
    QVERIFY2(wav.rate == 22050 || wav.rate == 44100, qPrintable(QString::number(wav.rate)));
    const double seconds = double(wav.samples.size()) / wav.rate;
    QVERIFY2(seconds >= 0.3 && seconds <= 0.6, qPrintable(QString::number(seconds)));

    const auto& s = wav.samples;
    int peak = 0, clipped = 0;
    double energy = 0, diffEnergy = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        peak = qMax(peak, std::abs(int(s[i])));
        clipped += std::abs(int(s[i])) >= 32767;
        energy += double(s[i]) * s[i];
        if (i > 0)
            diffEnergy += double(s[i] - s[i - 1]) * (s[i] - s[i - 1]);
    }
    const double rms = std::sqrt(energy / s.size());
    QVERIFY2(peak > 32767 / 4, "too quiet");
    QVERIFY2(rms > 32767 * 0.02, "nearly silent");
    QVERIFY2(clipped <= 2, "clipped");

    // A sharp attack: loud within the first 30 ms; and it dies away with no click at the end.
    int early = 0;
    for (int i = 0; i < wav.rate * 0.03; ++i)
        early = qMax(early, std::abs(int(s[i])));
    QVERIFY2(early > peak / 2, "soft attack");
    for (qsizetype i = s.size() - wav.rate / 100; i < s.size(); ++i)
        QVERIFY2(std::abs(int(s[i])) < peak / 20, "does not fade out");

    // The voice: in the loud part, the strongest component below 1.2 kHz (a Hann-windowed DFT
    // over 40 ms, 10 Hz steps) is the pitch, which lies in a small dog's range.
    const int from = int(wav.rate * 0.03), len = int(wav.rate * 0.04);
    double strongest = 0, pitch = 0;
    for (double f = 200; f <= 1200; f += 10) {
        double re = 0, im = 0;
        for (int i = 0; i < len; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * i / (len - 1));
            const double a = 2 * M_PI * f * i / wav.rate;
            re += s[from + i] * hann * std::cos(a);
            im += s[from + i] * hann * std::sin(a);
        }
        const double magnitude = std::hypot(re, im);
        if (magnitude > strongest)
            strongest = magnitude, pitch = f;
    }
    QVERIFY2(pitch >= 450 && pitch <= 1000, qPrintable(QStringLiteral("pitch %1 Hz").arg(pitch)));

    // Not a beep: a pure tone at that pitch has almost nothing in the highs. The energy of the
    // sample-to-sample difference, relative to the signal's, is 0.016 for a 900 Hz sine at
    // 44.1 kHz; harmonics and breath noise must at least double that (the bark has 0.055).
    const double brightness = diffEnergy / energy * (wav.rate / 44100.0) * (wav.rate / 44100.0);
    QVERIFY2(brightness > 0.035, qPrintable(QString::number(brightness)));
}

void TestArtwork::homePage() {
    const QByteArray html = readAll(kAssets + QStringLiteral("/hp/index.html"));
    QVERIFY(!html.isEmpty());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(html);
    QVERIFY2(!utf8.hasError(), "not valid UTF-8");
    QVERIFY(text.contains(QStringLiteral("charset=\"utf-8\""), Qt::CaseInsensitive));
    for (const QString& word : {QStringLiteral("モコポン"), QStringLiteral("受信"),
                                QStringLiteral("設定"), QStringLiteral("ダブルクリック"),
                                QStringLiteral("右クリック"), QStringLiteral("ドラッグ")})
        QVERIFY2(text.contains(word), qPrintable(word));

    // Nothing leaves the machine and nothing runs: no scripts, no remote or absolute addresses,
    // and every file the page names is shipped beside it.
    QVERIFY(!text.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
    QVERIFY(!text.contains(QStringLiteral("://")));
    QVERIFY(!text.contains(QStringLiteral("url("), Qt::CaseInsensitive));
    const QRegularExpression ref(QStringLiteral("(?:src|href)\\s*=\\s*\"([^\"]*)\""));
    int refs = 0;
    for (const auto& m : ref.globalMatch(text)) {
        const QString target = m.captured(1);
        QVERIFY2(!target.startsWith(QLatin1Char('/')) && !target.contains(QLatin1String("..")),
                 qPrintable(target));
        QVERIFY2(QFile::exists(kAssets + QStringLiteral("/hp/") + target), qPrintable(target));
        ++refs;
    }
    QVERIFY(text.contains(QStringLiteral("puppy.png")));
    QVERIFY(refs >= 1);
    const QImage puppy(kAssets + QStringLiteral("/hp/puppy.png"));
    QVERIFY(puppy.width() >= 120 && puppy.height() >= 180);
}

QTEST_GUILESS_MAIN(TestArtwork)
#include "test_artwork.moc"
