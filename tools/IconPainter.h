#pragma once
// The 32 x 32 window icon: the puppy's face on a yellow ground, reduced to a 256-colour palette.

#include <QImage>

class IconPainter {
  public:
    // Format_Indexed8, 32 x 32, at most 256 colours.
    static QImage paint();

    // Median-cut palette of at most maxColours colours, each pixel mapped to its nearest entry.
    static QImage toPalette(const QImage& image, int maxColours);
};
