#pragma once
// Window outlines cut from the frame pictures.
//
// The background colour is the picture's pixel (0, 0), matched exactly: every pixel of that colour
// is cut away, every other one stays. The scan covers 181 x 181 points whatever the picture's size;
// points off the picture read as no colour and so stay inside, which the window's own size clips.
// A picture drawn for a finer screen is scanned over the same square at its own scale.
// An outline is stored as y-x banded rectangles, built once at load; a tick only rebuilds a region
// from them.

#include <QImage>
#include <QRect>
#include <QRegion>
#include <vector>

inline constexpr int kOutlineScan = 181;

struct FrameRegionSlot {
    // The slot grows to whatever the outline needs; nothing is ever written past its end.
    std::vector<QRect> rects;
};

// The colour at (x, y) as 0xRRGGBB, or -1 off the picture.
qint64 pictureColour(const QImage& picture, int x, int y);

// The scan's side for pictures at the given device pixel ratio: 181 at 1x, 362 at 2x.
int outlineScan(qreal devicePixelRatio);

FrameRegionSlot buildOutline(const QImage& picture, int scan = kOutlineScan);
QRegion regionFromSlot(const FrameRegionSlot& slot);

// The picture as the outline cuts it: every pixel of its background colour (the colour at 0, 0)
// fully transparent, every other one as it is; its device pixel ratio kept.
QImage cutAway(const QImage& picture);
