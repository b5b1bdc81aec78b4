#pragma once
// Program-wide values shared by the windows.
//
// BarkMode is 1 while the companion stands in for the startup character; CursorPos is the pointer
// position that a character window read when it loaded. Both live for the whole run.

#include <QtGlobal>

struct PointApi {
    qint32 x = 0;
    qint32 y = 0;
};

extern qint16 BarkMode;
extern PointApi CursorPos;
