#include "Outline.h"

#include <QtMath>

qint64 pictureColour(const QImage& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height())
        return -1;
    return qint64(picture.pixel(x, y) & 0xFFFFFF);
}

int outlineScan(qreal devicePixelRatio) {
    return qCeil(kOutlineScan * devicePixelRatio - 1e-9);
}

FrameRegionSlot buildOutline(const QImage& picture, int scan) {
    const QImage img = picture.format() == QImage::Format_RGB32
                           ? picture
                           : picture.convertToFormat(QImage::Format_RGB32);
    const qint64 background = pictureColour(img, 0, 0);

    FrameRegionSlot slot;
    // Runs of the previous row that are still open as one band.
    std::vector<std::pair<int, int>> bandRuns;
    int bandTop = 0;
    auto closeBand = [&](int bottom) {
        for (const auto& [x0, x1] : bandRuns)
            slot.rects.emplace_back(QPoint(x0, bandTop), QPoint(x1 - 1, bottom - 1));
    };

    std::vector<std::pair<int, int>> runs;
    for (int y = 0; y < scan; ++y) {
        runs.clear();
        int start = -1;
        // Row by row from the picture's memory: the scan at 3x reads nine times the points.
        const auto* line =
            y < img.height() ? reinterpret_cast<const QRgb*>(img.constScanLine(y)) : nullptr;
        const int onPicture = line ? qMin(scan, img.width()) : 0;
        for (int x = 0; x < scan; ++x) {
            const qint64 colour = x < onPicture ? qint64(line[x] & 0xFFFFFF) : -1;
            const bool inside = colour != background;
            if (inside && start < 0)
                start = x;
            if (!inside && start >= 0) {
                runs.emplace_back(start, x);
                start = -1;
            }
        }
        if (start >= 0)
            runs.emplace_back(start, scan);
        if (runs != bandRuns) {
            closeBand(y);
            bandRuns = runs;
            bandTop = y;
        }
    }
    closeBand(scan);
    return slot;
}

QRegion regionFromSlot(const FrameRegionSlot& slot) {
    QRegion region;
    if (!slot.rects.empty())
        region.setRects(slot.rects.data(), int(slot.rects.size()));
    return region;
}

QImage cutAway(const QImage& picture) {
    QImage cut = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (cut.isNull())
        return cut;
    const QRgb background = picture.pixel(0, 0) & 0xFFFFFF;
    for (int y = 0; y < cut.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(cut.scanLine(y));
        const auto* source = reinterpret_cast<const QRgb*>(
            picture.format() == QImage::Format_RGB32 ? picture.constScanLine(y) : nullptr);
        for (int x = 0; x < cut.width(); ++x) {
            const QRgb colour = source ? source[x] : picture.pixel(x, y);
            if ((colour & 0xFFFFFF) == background)
                line[x] = 0;
        }
    }
    return cut;
}
