#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cfenv>
#include <cmath>
#include <limits>

namespace Twips {
namespace {

float dpiX() {
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? float(dpi) : 96.0f;
}

float dpiY() {
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return dpi > 0 ? float(dpi) : 96.0f;
}

} // namespace

float perPixelX() {
    return 1440.0f / dpiX();
}
float perPixelY() {
    return 1440.0f / dpiY();
}

qint32 roundHalfEven(double value) {
    if (std::isnan(value))
        return 0;
    // The default rounding mode rounds halves to even; make sure nobody changed it.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value);
    std::fesetround(saved);
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(r);
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

float screenWidth() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? float(s->geometry().width()) * perPixelX() : 0.0f;
}

float screenHeight() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? float(s->geometry().height()) * perPixelY() : 0.0f;
}

QColor oleColor(quint32 bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

} // namespace Twips
