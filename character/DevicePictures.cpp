#include "DevicePictures.h"

#include <QList>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace DevicePictures {
namespace {

constexpr QRgb kWhite = 0xffffff;
// The figure's highlights; pure white is the background's alone.
constexpr QRgb kOffWhite = 0xfafaf5;

int luma(QRgb c) {
    return qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114;
}

} // namespace

int drawnScaleFor(qreal devicePixelRatio) {
    if (devicePixelRatio <= 1.0)
        return 1;
    if (devicePixelRatio <= 2.0)
        return 2;
    return 3;
}

QString suffix(int scale) {
    return scale <= 1 ? QString() : QStringLiteral("@%1x").arg(scale);
}

QSize deviceSize(const QSize& logical, qreal devicePixelRatio) {
    return QSize(qRound(logical.width() * devicePixelRatio),
                 qRound(logical.height() * devicePixelRatio));
}

QImage resized(const QImage& drawn, const QSize& size) {
    const QImage src = drawn.convertToFormat(QImage::Format_RGB32);
    if (src.size() == size || size.isEmpty() || src.isNull())
        return src;
    const int sw = src.width(), sh = src.height(), w = size.width(), h = size.height();
    const double fx = double(sw) / w, fy = double(sh) / h;

    QImage out(size, QImage::Format_RGB32);
    out.fill(QColor(Qt::white));
    // The darkest figure colour under each device pixel, for the outline ring.
    QList<QRgb> darkest(qsizetype(w) * h, kWhite);
    for (int y = 0; y < h; ++y) {
        const double y0 = y * fy, y1 = (y + 1) * fy;
        for (int x = 0; x < w; ++x) {
            const double x0 = x * fx, x1 = (x + 1) * fx;
            // Area-weighted coverage and colour of the figure pixels under the device pixel.
            double cover = 0, r = 0, g = 0, b = 0;
            QRgb dark = kWhite;
            for (int sy = int(y0); sy < qMin(sh, qCeil(y1)); ++sy) {
                const double wy = qMin(y1, sy + 1.0) - qMax(y0, double(sy));
                for (int sx = int(x0); sx < qMin(sw, qCeil(x1)); ++sx) {
                    const QRgb c = src.pixel(sx, sy) & 0xffffff;
                    if (c == kWhite)
                        continue;
                    const double a = wy * (qMin(x1, sx + 1.0) - qMax(x0, double(sx)));
                    cover += a;
                    r += a * qRed(c), g += a * qGreen(c), b += a * qBlue(c);
                    if (dark == kWhite || luma(c) < luma(dark))
                        dark = c;
                }
            }
            if (cover < 0.5 * fx * fy)
                continue;
            QRgb c = qRgb(qRound(r / cover), qRound(g / cover), qRound(b / cover)) & 0xffffff;
            if (c == kWhite)
                c = kOffWhite;
            out.setPixel(x, y, c);
            darkest[qsizetype(y) * w + x] = dark;
        }
    }

    auto isBackground = [&](int x, int y) {
        return x < 0 || y < 0 || x >= w || y >= h || (out.pixel(x, y) & 0xffffff) == kWhite;
    };
    QImage ringed = out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (isBackground(x, y))
                continue;
            bool ring = false;
            for (int dy = -1; dy <= 1 && !ring; ++dy)
                for (int dx = -1; dx <= 1 && !ring; ++dx)
                    ring = isBackground(x + dx, y + dy);
            if (ring)
                ringed.setPixel(x, y, darkest[qsizetype(y) * w + x]);
        }
    return ringed;
}

} // namespace DevicePictures
