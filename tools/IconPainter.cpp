#include "IconPainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <vector>

namespace {

// Icons are drawn at 4x their size and scaled down, which gives smooth edges.
constexpr int kScale = 4;

// The icon in a 32 x 32 square of units; rounded: the ground gets round corners on a clear
// background, as icons in a menu have.
void draw(QPainter& p, bool rounded) {
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient ground(QPointF(13, 11), 24);
    ground.setColorAt(0, QColor(255, 236, 120));
    ground.setColorAt(1, QColor(250, 196, 40));
    if (rounded) {
        QPainterPath tile;
        tile.addRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        p.setClipPath(tile);
    }
    p.fillRect(QRectF(0, 0, 32, 32), ground);

    const QColor line(112, 72, 44);
    const QPointF c(16, 17.5);
    QRadialGradient fur(c + QPointF(-4, -5), 17);
    fur.setColorAt(0, QColor(255, 248, 232));
    fur.setColorAt(0.6, QColor(248, 230, 196));
    fur.setColorAt(1, QColor(230, 196, 146));
    p.setPen(QPen(line, 1.0));
    p.setBrush(fur);
    p.drawEllipse(c, 11.5, 10);

    for (int side = -1; side <= 1; side += 2) {
        QPainterPath ear;
        const QPointF root(c.x() + side * 8.5, c.y() - 7.5);
        const QPointF tip(root.x() + side * 5, root.y() + 12);
        ear.moveTo(root + QPointF(-side * 3, -0.5));
        ear.cubicTo(root + QPointF(side * 2, -3), tip + QPointF(side * 3, -5), tip);
        ear.cubicTo(tip + QPointF(-side * 2.5, 1), tip + QPointF(-side * 3.5, -2),
                    root + QPointF(-side * 1, 3));
        ear.closeSubpath();
        p.setBrush(QColor(214, 164, 100));
        p.drawPath(ear);
    }

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(244, 150, 150, 170));
    p.drawEllipse(QPointF(c.x() - 7.5, c.y() + 4), 2, 1.2);
    p.drawEllipse(QPointF(c.x() + 7.5, c.y() + 4), 2, 1.2);
    p.setBrush(QColor(255, 251, 240));
    p.drawEllipse(QPointF(c.x(), c.y() + 4.5), 5, 3.5);

    p.setBrush(QColor(42, 26, 18));
    p.drawEllipse(QPointF(c.x() - 4.8, c.y() - 0.5), 1.9, 2.3);
    p.drawEllipse(QPointF(c.x() + 4.8, c.y() - 0.5), 1.9, 2.3);
    p.drawEllipse(QPointF(c.x(), c.y() + 2.6), 1.8, 1.2);
    p.setBrush(QColor(250, 250, 245));
    p.drawEllipse(QPointF(c.x() - 5.4, c.y() - 1.3), 0.7, 0.7);
    p.drawEllipse(QPointF(c.x() + 4.2, c.y() - 1.3), 0.7, 0.7);
    p.setPen(QPen(line, 0.7));
    p.setBrush(Qt::NoBrush);
    QPainterPath mouth;
    mouth.moveTo(c.x() - 2, c.y() + 4.6);
    mouth.quadTo(c.x() - 1, c.y() + 5.6, c.x(), c.y() + 4.3);
    mouth.quadTo(c.x() + 1, c.y() + 5.6, c.x() + 2, c.y() + 4.6);
    p.drawPath(mouth);
}

} // namespace

QImage IconPainter::paint() {
    QImage big(32 * kScale, 32 * kScale, QImage::Format_RGB32);
    QPainter p(&big);
    p.scale(kScale, kScale);
    draw(p, false);
    p.end();

    const QImage small = big.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return toPalette(small, 256);
}

QImage IconPainter::paintMenuIcon(int size) {
    QImage big(size * kScale, size * kScale, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    QPainter p(&big);
    p.scale(size * kScale / 32.0, size * kScale / 32.0);
    draw(p, true);
    p.end();
    return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage IconPainter::toPalette(const QImage& image, int maxColours) {
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    std::vector<QRgb> pixels;
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            pixels.push_back(src.pixel(x, y) | 0xff000000);

    using Box = std::vector<QRgb>;
    std::vector<Box> boxes{pixels};
    auto channel = [](QRgb c, int ch) {
        return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c);
    };
    auto widest = [&](const Box& b, int* range) {
        std::array<int, 3> lo{255, 255, 255}, hi{0, 0, 0};
        for (QRgb c : b)
            for (int ch = 0; ch < 3; ++ch) {
                lo[ch] = std::min(lo[ch], channel(c, ch));
                hi[ch] = std::max(hi[ch], channel(c, ch));
            }
        int best = 0;
        for (int ch = 1; ch < 3; ++ch)
            if (hi[ch] - lo[ch] > hi[best] - lo[best])
                best = ch;
        *range = hi[best] - lo[best];
        return best;
    };
    while (int(boxes.size()) < maxColours) {
        int pick = -1, pickRange = 0, pickChannel = 0;
        for (int i = 0; i < int(boxes.size()); ++i) {
            int range = 0;
            const int ch = widest(boxes[i], &range);
            if (range > pickRange && boxes[i].size() > 1) {
                pick = i, pickRange = range, pickChannel = ch;
            }
        }
        if (pick < 0)
            break;
        Box& b = boxes[pick];
        std::sort(b.begin(), b.end(), [&](QRgb l, QRgb r) {
            return channel(l, pickChannel) < channel(r, pickChannel);
        });
        Box upper(b.begin() + b.size() / 2, b.end());
        b.resize(b.size() / 2);
        boxes.push_back(std::move(upper));
    }

    QList<QRgb> palette;
    for (const Box& b : boxes) {
        long r = 0, g = 0, bl = 0;
        for (QRgb c : b)
            r += qRed(c), g += qGreen(c), bl += qBlue(c);
        const long n = long(b.size());
        const QRgb avg = qRgb(int(r / n), int(g / n), int(bl / n));
        if (!palette.contains(avg))
            palette.append(avg);
    }
    return src.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
}
