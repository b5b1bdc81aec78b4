#pragma once
// The window's outline in device pixels. Qt takes a window's mask in logical pixels and scales it
// to the screen, so on a screen with two device pixels to the pixel the outline would step by two;
// the display system takes the outline at its own resolution here.

class QRegion;
class QWidget;

// Call before the window is first shown. True when the window gets an alpha channel that the
// desktop's compositor draws it by, so that it paints its cut-away parts transparent; the outline
// still cuts it where no compositor runs.
bool useAlphaChannel(QWidget* window);

// Gives the window the outline (device pixels from its top-left corner) for what it shows and
// for where it takes clicks, cut to the window's own rectangle; an empty region gives it back its
// full rectangle. False when the display system cannot take it: use QWidget::setMask.
bool setDeviceShape(QWidget* window, const QRegion& deviceRegion);
