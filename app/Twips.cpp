#include "Twips.h"

#include "Rounding.h"

#include <QGuiApplication>
#include <QScreen>

namespace Twips {
namespace {

constexpr float kTwipsPerInch = 1440;
// Without a screen, or with one that reports nothing, the Windows version's standard.
constexpr float kStandardDpi = 96;

float perPixel(qreal (QScreen::*logicalDpi)() const) {
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal dpi = s ? (s->*logicalDpi)() : 0;
    return kTwipsPerInch / (dpi > 0 ? float(dpi) : kStandardDpi);
}

} // namespace

float perPixelX() {
    return perPixel(&QScreen::logicalDotsPerInchX);
}
float perPixelY() {
    return perPixel(&QScreen::logicalDotsPerInchY);
}

int toPixelsX(float twips) {
    return roundHalfEven(double(twips) / perPixelX());
}
int toPixelsY(float twips) {
    return roundHalfEven(double(twips) / perPixelY());
}

QRect rect(float left, float top, float width, float height) {
    return QRect(toPixelsX(left), toPixelsY(top), toPixelsX(width), toPixelsY(height));
}

} // namespace Twips
