#pragma once
// Frame pictures for screens finer than 96 dpi.
//
// The artwork is drawn at 1x, 2x and 3x (A.png, A@2x.png, A@3x.png). A screen's device pixel
// ratio takes the drawn set that fits it; a ratio between two sets (1.5 on a 150 % desktop) takes
// the finer set resized to the window's device size. The window keeps its logical size and twips;
// only its picture and outline gain device pixels.

#include <QImage>
#include <QSize>
#include <QString>

namespace DevicePictures {

// The drawn scale (1, 2 or 3) whose pictures serve a device pixel ratio: the smallest one at least
// as fine as the screen, 3 above that.
int drawnScaleFor(qreal devicePixelRatio);

// The file name suffix of a drawn scale: "", "@2x" or "@3x".
QString suffix(int scale);

// The device size of a picture of the given logical size.
QSize deviceSize(const QSize& logical, qreal devicePixelRatio);

// A drawn picture resized to a device size, keeping the rules the window's outline relies on: pure
// white is the background and nothing else; a device pixel at least half covered by the figure is
// figure, coloured by the figure's pixels alone (never blended with the white around it); and the
// figure's outermost ring takes the darkest figure colour under it, so the contour stays a dark
// line and shows no light halo on a dark desktop.
QImage resized(const QImage& drawn, const QSize& deviceSize);

} // namespace DevicePictures
