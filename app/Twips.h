#pragma once
// Twips (1/1440 inch) are the unit of every window position and size; the native window stands at
// the nearest whole pixel. Everything here reads the primary screen.

#include <QRect>
#include <QtGlobal>

namespace Twips {

float perPixelX();
float perPixelY();

int toPixelsX(float twips);
int toPixelsY(float twips);

// A dialog control's rectangle given in twips, in pixels.
QRect rect(float left, float top, float width, float height);

} // namespace Twips
