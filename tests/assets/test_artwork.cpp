// Checks the shipped pictures, icon, bark and home page against what the character windows and
// the rest of the program rely on. The figure checks are also run on doctored copies of a frame,
// so a check that can no longer fail is noticed.

#include "Outline.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>
#include <QtEndian>
#include <cmath>

namespace {

const QString kAssets = QStringLiteral(MOKOPON_SOURCE_DIR "/assets");
constexpr QRgb kWhite = 0xffffffff;

// Where the puppy sits in every frame; tree and basket outside it must not change.
const QRect kPuppyArea(22, 72, 76, 70);

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
int outlineRects(const QImage& img) {
    return int(buildOutline(img).rects.size());
}

// Every rule a frame picture keeps; each broken rule adds one line naming it.
QStringList figureProblems(const QImage& src) {
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
    if (minX < 2)
        problems << QStringLiteral("figure reaches column %1 (left margin under 2)").arg(minX);
    if (maxX > 116)
        problems << QStringLiteral("figure reaches column %1 (right margin under 3)").arg(maxX);
    if (minY != 0)
        problems << QStringLiteral("figure does not touch row 0");
    if (maxY != h - 1)
        problems << QStringLiteral("figure does not touch the bottom row");
    const int rects = outlineRects(img);
    if (rects > 301)
        problems << QStringLiteral("outline needs %1 rectangles, more than 301").arg(rects);
    return problems;
}

QImage frame(char name) {
    return QImage(kAssets + QStringLiteral("/frames/%1.png").arg(QChar(name)))
        .convertToFormat(QImage::Format_RGB32);
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
    void sceneIsSharedByAllFrames();
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
    for (char c = 'A'; c <= 'G'; ++c)
        QTest::newRow(QByteArray(1, c).constData()) << c;
}

void TestArtwork::frameRules() {
    QFETCH(char, name);
    const QString path = kAssets + QStringLiteral("/frames/%1.png").arg(QChar(name));
    const PngHeader h = pngHeader(readAll(path));
    QCOMPARE(h.width, 120);
    QCOMPARE(h.height, 180);
    QCOMPARE(h.bitDepth, 8);
    QCOMPARE(h.colourType, 2); // truecolour without alpha: 24 bits per pixel

    const QStringList problems = figureProblems(frame(name));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join(QStringLiteral("; "))));
}

void TestArtwork::sceneIsSharedByAllFrames() {
    const QImage a = frame('A');
    QVERIFY(!a.isNull());
    for (char c = 'B'; c <= 'G'; ++c) {
        const QImage other = frame(c);
        QCOMPARE(other.size(), a.size());
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (!kPuppyArea.contains(x, y) && other.pixel(x, y) != a.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("frame %1 differs from A at (%2,%3), outside "
                                                    "the puppy")
                                         .arg(QChar(c))
                                         .arg(x)
                                         .arg(y)));
    }
}

void TestArtwork::puppyChanges_data() {
    QTest::addColumn<char>("first");
    QTest::addColumn<char>("second");
    const char* pairs[] = {"AB", "AC", "BC", "DE", "DF", "DG", "EF", "EG", "FG", "AD"};
    for (const char* p : pairs)
        QTest::newRow(p) << p[0] << p[1];
}

void TestArtwork::puppyChanges() {
    QFETCH(char, first);
    QFETCH(char, second);
    QVERIFY(frame(first) != frame(second));
}

void TestArtwork::checksCatchFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("expected");
    QTest::newRow("white highlight inside") << "inner white"
                                            << "enclosed white";
    QTest::newRow("figure touching column 1") << "column 1"
                                              << "left margin";
    QTest::newRow("figure touching column 117") << "column 117"
                                                << "right margin";
    QTest::newRow("gap above the crown") << "top row cleared"
                                         << "row 0";
    QTest::newRow("light anti-aliasing at the edge") << "light edge"
                                                     << "light halo";
    QTest::newRow("grey contour") << "grey edge"
                                  << "grey contour";
    QTest::newRow("off-white background") << "background"
                                          << "background";
    QTest::newRow("ragged outline") << "ragged"
                                    << "rectangles";
}

void TestArtwork::checksCatchFaults() {
    QFETCH(QString, fault);
    QFETCH(QString, expected);
    QImage img = frame('A');
    QVERIFY(figureProblems(img).isEmpty());

    // A contour pixel on the left of the crown, the first non-white pixel of row 50.
    int edgeX = 0;
    while (isWhite(img, edgeX, 50))
        ++edgeX;

    if (fault == QLatin1String("inner white")) {
        img.setPixel(60, 40, kWhite);
    } else if (fault == QLatin1String("column 1")) {
        img.setPixel(1, 150, qRgb(60, 40, 20));
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
    const QString found = figureProblems(img).join(QStringLiteral("; "));
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
