#pragma once
// One animation tick's arithmetic: keep the window on its monitor and choose the next frame.

#include <QList>
#include <QRectF>
#include <QtGlobal>

struct TickInput {
    float left = 0;
    float top = 0;
    float frameWidth = 0;
    float frameHeight = 0;
    // The monitor the window keeps to; with one monitor, the screen from 0, 0.
    float screenWidth = 0;
    float screenHeight = 0;
    float screenLeft = 0;
    float screenTop = 0;
};

struct TickResult {
    qint32 left = 0;
    qint32 top = 0;
    int frame = 0;
};

// Which of the monitors a window keeps to: the one that holds the window's centre, or else the
// one nearest to the centre (the first of equals; the primary monitor comes first). -1 when there
// are none. Any unit, as long as window and monitors share it.
int monitorFor(const QRectF& window, const QList<QRectF>& monitors);

// The tick's input for a window at left, top with the given frame size, keeping to monitorFor's
// monitor (all in twips). Without monitors the window's own place is its screen: only the
// rounding to whole twips is left.
TickInput onMonitors(float left, float top, float frameWidth, float frameHeight,
                     const QList<QRectF>& monitors);

// Screen keeping in whole twips (halves to even), at the monitor's edges.
void keepOnScreen(const TickInput& in, qint32& left, qint32& top);

// holdFrameZero: the startup character in bark mode shows frame 0 and keeps its counter.
// Otherwise the counter runs 1..7 and wraps to 1.
int nextFrame(qint16& frameStep, bool holdFrameZero);

TickResult animationTick(const TickInput& in, qint16& frameStep, bool holdFrameZero);
