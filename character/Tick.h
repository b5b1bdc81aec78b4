#pragma once
// One animation tick's arithmetic: keep the window on the screen and choose the next frame.

#include <QtGlobal>

struct TickInput {
    float left = 0;
    float top = 0;
    float frameWidth = 0;
    float frameHeight = 0;
    float screenWidth = 0;
    float screenHeight = 0;
};

struct TickResult {
    qint32 left = 0;
    qint32 top = 0;
    int frame = 0;
};

// Screen keeping in whole twips (halves to even).
void keepOnScreen(const TickInput& in, qint32& left, qint32& top);

// holdFrameZero: the startup character in bark mode shows frame 0 and keeps its counter.
// Otherwise the counter runs 1..7 and wraps to 1.
int nextFrame(qint16& frameStep, bool holdFrameZero);

TickResult animationTick(const TickInput& in, qint16& frameStep, bool holdFrameZero);
