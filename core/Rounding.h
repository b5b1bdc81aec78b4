#pragma once
// How a position in twips becomes a whole pixel or a whole twip, as the Windows version rounds.

#include <QtGlobal>

// Nearest whole number, an exact half to the even neighbour, saturated to 32 bits.
qint32 roundHalfEven(double value);
