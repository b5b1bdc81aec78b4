#include "Tick.h"

#include "Rounding.h"

int monitorFor(const QRectF& window, const QList<QRectF>& monitors) {
    const QPointF c = window.center();
    int nearest = -1;
    double best = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRectF& m = monitors[i];
        // Half-open, so the line between two monitors side by side belongs to one of them.
        if (c.x() >= m.left() && c.x() < m.right() && c.y() >= m.top() && c.y() < m.bottom())
            return i;
        const double dx = qMax(0.0, qMax(m.left() - c.x(), c.x() - m.right()));
        const double dy = qMax(0.0, qMax(m.top() - c.y(), c.y() - m.bottom()));
        const double distance = dx * dx + dy * dy;
        if (nearest < 0 || distance < best) {
            nearest = i;
            best = distance;
        }
    }
    return nearest;
}

TickInput onMonitors(float left, float top, float frameWidth, float frameHeight,
                     const QList<QRectF>& monitors) {
    TickInput in{left, top, frameWidth, frameHeight, frameWidth, frameHeight, left, top};
    const int m = monitorFor(QRectF(left, top, frameWidth, frameHeight), monitors);
    if (m >= 0) {
        const QRectF& area = monitors[m];
        in.screenLeft = float(area.left());
        in.screenTop = float(area.top());
        in.screenWidth = float(area.width());
        in.screenHeight = float(area.height());
    }
    return in;
}

void keepOnScreen(const TickInput& in, qint32& left, qint32& top) {
    qint32 l = roundHalfEven(in.left);
    qint32 t = roundHalfEven(in.top);
    if (float(l) < in.screenLeft)
        l = roundHalfEven(in.screenLeft);
    if (float(t) < in.screenTop)
        t = roundHalfEven(in.screenTop);
    // Compared in float, as the window's own values are; touching the edge is allowed.
    const float right = in.screenLeft + in.screenWidth;
    const float bottom = in.screenTop + in.screenHeight;
    if (float(l) + in.frameWidth > right)
        l = roundHalfEven(right - in.frameWidth);
    if (float(t) + in.frameHeight > bottom)
        t = roundHalfEven(bottom - in.frameHeight);
    left = l;
    top = t;
}

int nextFrame(qint16& frameStep, bool holdFrameZero) {
    if (holdFrameZero)
        return 0;
    if (frameStep >= 7)
        frameStep = 0;
    frameStep = qint16(frameStep + 1);
    return frameStep;
}

TickResult animationTick(const TickInput& in, qint16& frameStep, bool holdFrameZero) {
    TickResult r;
    keepOnScreen(in, r.left, r.top);
    r.frame = nextFrame(frameStep, holdFrameZero);
    return r;
}
