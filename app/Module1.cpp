#include "Module1.h"

qint16 BarkMode = 0;
PointApi CursorPos;
