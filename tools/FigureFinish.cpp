#include "FigureFinish.h"

#include <QList>
#include <QPoint>

namespace {

constexpr int kFigureAlpha = 128;

QColor unpremultiplied(QRgb p) {
    const int a = qAlpha(p);
    if (a == 0)
        return QColor(0, 0, 0);
    return QColor(qMin(255, qRed(p) * 255 / a), qMin(255, qGreen(p) * 255 / a),
                  qMin(255, qBlue(p) * 255 / a));
}

} // namespace

QColor FigureFinish::contourOf(const QColor& c) {
    // One depth for the whole outline, so the edge reads as an even line; only the hue follows
    // the object underneath.
    float h, s, v, a;
    c.getHsvF(&h, &s, &v, &a);
    if (h < 0)
        h = 0.08f; // greys get a warm brown edge
    return QColor::fromHsvF(h, qBound(0.55f, s, 0.85f), 0.30f);
}

QImage FigureFinish::finish(const QImage& canvas) {
    const QImage src = canvas.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = src.width(), h = src.height();
    auto at = [&](int x, int y) { return src.pixel(x, y); };

    // 0 = background reachable from the border, 1 = figure, 2 = enclosed pocket (not yet known).
    QList<quint8> kind(w * h, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (qAlpha(at(x, y)) >= kFigureAlpha)
                kind[y * w + x] = 1;

    QList<QPoint> queue;
    auto startFrom = [&](int x, int y) {
        if (kind[y * w + x] == 2) {
            kind[y * w + x] = 0;
            queue.append(QPoint(x, y));
        }
    };
    for (int x = 0; x < w; ++x) {
        startFrom(x, 0);
        startFrom(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        startFrom(0, y);
        startFrom(w - 1, y);
    }
    for (qsizetype i = 0; i < queue.size(); ++i) {
        const QPoint p = queue[i];
        const QPoint next[4] = {
            {p.x() + 1, p.y()}, {p.x() - 1, p.y()}, {p.x(), p.y() + 1}, {p.x(), p.y() - 1}};
        for (const QPoint& n : next)
            if (n.x() >= 0 && n.y() >= 0 && n.x() < w && n.y() < h)
                startFrom(n.x(), n.y());
    }

    auto isOutside = [&](int x, int y) {
        return x < 0 || y < 0 || x >= w || y >= h || kind[y * w + x] == 0;
    };

    QImage out(w, h, QImage::Format_RGB888);
    out.fill(Qt::white);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int k = kind[y * w + x];
            if (k == 0)
                continue;
            QColor colour;
            if (k == 2) {
                // A pocket of background shut in by the figure: a shadow gap between two shapes.
                int r = 0, g = 0, b = 0, n = 0;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) {
                        const int xx = x + dx, yy = y + dy;
                        if (xx >= 0 && yy >= 0 && xx < w && yy < h && kind[yy * w + xx] == 1) {
                            const QColor c = unpremultiplied(at(xx, yy));
                            r += c.red(), g += c.green(), b += c.blue(), ++n;
                        }
                    }
                colour = n ? contourOf(QColor(r / n, g / n, b / n)) : QColor(70, 45, 25);
            } else {
                const QRgb p = at(x, y);
                const QColor edge = contourOf(unpremultiplied(p));
                bool ring = false;
                for (int dy = -1; dy <= 1 && !ring; ++dy)
                    for (int dx = -1; dx <= 1 && !ring; ++dx)
                        ring = isOutside(x + dx, y + dy);
                if (ring) {
                    colour = edge;
                } else {
                    const int a = qAlpha(p);
                    colour = QColor(qRed(p) + edge.red() * (255 - a) / 255,
                                    qGreen(p) + edge.green() * (255 - a) / 255,
                                    qBlue(p) + edge.blue() * (255 - a) / 255);
                }
            }
            QRgb rgb = colour.rgb();
            if ((rgb & 0xffffff) == 0xffffff)
                rgb = kOffWhite;
            out.setPixel(x, y, rgb);
        }
    }
    return out;
}
