#pragma once
// Monitors of different device pixel ratios. Qt gives each monitor pixels of its own: a monitor
// keeps its top-left corner where it is in device pixels and counts its pixels from there, each
// worth its ratio in device pixels. Pixels of two such monitors do not line up, so a point taken
// from one monitor to another goes through device pixels.

#include <QList>
#include <QPoint>
#include <QRect>

struct ScaledMonitor {
    // In the monitor's own pixels; its top-left corner is the same in device pixels.
    QRect geometry;
    qreal ratio = 1;
};

// The point in device pixels, mapped by the monitor that holds it (as is, on none).
QPoint toDevicePixels(const QPoint& point, const QList<ScaledMonitor>& monitors);

// The monitor whose pixels a window placed at this geometry is mapped with: the current one while
// it holds the window's centre, else the first that holds it, else the last the window overlaps,
// else still the current one.
int mappingMonitor(const QRect& window, int current, const QList<ScaledMonitor>& monitors);

// Where a dragged window goes (its top-left corner) so that its point grab (window pixels) comes
// to lie under the pointer (in the pixels of the monitor that holds it) once mapped by
// mappingMonitor, or as near as it can. The window keeps its size in pixels, so it changes in
// device pixels from one monitor to the next. With one ratio everywhere: the pointer less grab.
QPoint dragPlace(const QPoint& pointer, const QPoint& grab, const QSize& window, int current,
                 const QList<ScaledMonitor>& monitors);
