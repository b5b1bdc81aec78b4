#pragma once
// Turns an anti-aliased drawing on a transparent canvas into a frame picture whose window outline
// is cut at the exact pure-white pixels.
//
// The window keeps every non-white pixel, so a pixel half blended with white would show as a light
// halo on a dark desktop. Instead: alpha is thresholded into a hard figure mask, background pockets
// the figure encloses are filled in (the outline must have no holes), the outermost ring of figure
// pixels takes a dark contour colour and the inner anti-aliasing is blended against that contour,
// never against white. Pure white is left for the background alone.

#include <QColor>
#include <QImage>

class FigureFinish {
  public:
    // canvas: Format_ARGB32_Premultiplied. Returns Format_RGB888 on pure white.
    static QImage finish(const QImage& canvas);

    // The colour the outline takes where the figure has colour c: a deep shade of its hue (dark
    // green on leaves, dark brown on fur and wicker).
    static QColor contourOf(const QColor& c);

    static constexpr QRgb kOffWhite = 0xfffafaf5;
};
