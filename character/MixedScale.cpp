#include "MixedScale.h"

#include <algorithm>
#include <climits>

namespace {

QPoint toDevice(const QPoint& point, const ScaledMonitor& m) {
    const QPoint origin = m.geometry.topLeft();
    return origin + (point - origin) * m.ratio;
}

QPoint fromDevice(const QPoint& device, const ScaledMonitor& m) {
    const QPoint origin = m.geometry.topLeft();
    return origin + (device - origin) / m.ratio;
}

} // namespace

QPoint toDevicePixels(const QPoint& point, const QList<ScaledMonitor>& monitors) {
    for (const ScaledMonitor& m : monitors)
        if (m.geometry.contains(point))
            return toDevice(point, m);
    return point;
}

int mappingMonitor(const QRect& window, int current, const QList<ScaledMonitor>& monitors) {
    const QPoint centre = window.center();
    if (current < 0 || current >= monitors.size() || monitors[current].geometry.contains(centre))
        return current;
    int fallback = current;
    for (int i = 0; i < monitors.size(); ++i) {
        if (monitors[i].geometry.contains(centre))
            return i;
        if (monitors[i].geometry.intersects(window))
            fallback = i;
    }
    return fallback;
}

QPoint dragPlace(const QPoint& pointer, const QPoint& grab, const QSize& window, int current,
                 const QList<ScaledMonitor>& monitors) {
    QPoint best = pointer - grab;
    if (std::all_of(monitors.begin(), monitors.end(),
                    [&](const ScaledMonitor& m) { return m.ratio == monitors.first().ratio; }))
        return best;
    // Each monitor's pixels give one place, its centre kept on that monitor so that the monitor
    // maps it; the one that comes nearest under the pointer wins. Near the line between two
    // monitors the window doubles or halves and cannot follow exactly: it then gives way, to the
    // side rather than up or down.
    const QPoint device = toDevicePixels(pointer, monitors);
    const QPoint half((window.width() - 1) / 2, (window.height() - 1) / 2);
    int bestMiss = INT_MAX;
    for (const ScaledMonitor& m : monitors) {
        QPoint place = fromDevice(device - grab * m.ratio, m);
        const QRect& g = m.geometry;
        place = QPoint(std::clamp(place.x() + half.x(), g.left(), g.right()),
                       std::clamp(place.y() + half.y(), g.top(), g.bottom())) -
                half;
        const int by = mappingMonitor(QRect(place, window), current, monitors);
        if (by < 0)
            continue;
        const ScaledMonitor& mapping = monitors[by];
        const QPoint miss = toDevice(place, mapping) + grab * mapping.ratio - device;
        // A miss up or down counts far more than one to the side.
        const int weight = qAbs(miss.x()) + 16 * qAbs(miss.y());
        if (weight < bestMiss) {
            best = place;
            bestMiss = weight;
        }
    }
    return best;
}
