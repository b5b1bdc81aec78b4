#include "Tick.h"

#include "Twips.h"

void keepOnScreen(const TickInput& in, qint32& left, qint32& top) {
    qint32 l = Twips::roundHalfEven(in.left);
    qint32 t = Twips::roundHalfEven(in.top);
    if (l < 0)
        l = 0;
    if (t < 0)
        t = 0;
    // Compared in float, as the window's own values are; touching the edge is allowed.
    if (float(l) + in.frameWidth > in.screenWidth)
        l = Twips::roundHalfEven(in.screenWidth - in.frameWidth);
    if (float(t) + in.frameHeight > in.screenHeight)
        t = Twips::roundHalfEven(in.screenHeight - in.frameHeight);
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
