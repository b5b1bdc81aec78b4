#pragma once
// The window's outline in device pixels. Qt takes a window's mask in logical pixels and scales it
// to the screen, so on a screen with two device pixels to the pixel the outline would step by two;
// the display system takes the outline at its own resolution here.

class QRegion;
class QWidget;

// Gives the window the outline (device pixels from its top-left corner); an empty region gives it
// back its full rectangle. False when the display system cannot take it: use QWidget::setMask.
bool setDeviceShape(QWidget* window, const QRegion& deviceRegion);
