#pragma once
// The program's icon: the puppy's face on a yellow ground. The window icon is 32 x 32 and reduced
// to a 256-colour palette; the menu's icons come in the sizes of the desktop's icon theme.

#include <QImage>

class IconPainter {
  public:
    // Format_Indexed8, 32 x 32, at most 256 colours.
    static QImage paint();

    // Format_ARGB32, size x size: the same face on a tile with round corners, clear around it.
    static QImage paintMenuIcon(int size);

    // Median-cut palette of at most maxColours colours, each pixel mapped to its nearest entry.
    static QImage toPalette(const QImage& image, int maxColours);
};
