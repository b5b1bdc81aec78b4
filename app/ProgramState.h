#pragma once
// Program-wide values shared by the windows.
//
// BarkMode is 1 while the companion stands in for the startup character; it lives for the whole
// run.

#include <QtGlobal>

extern qint16 BarkMode;
