#pragma once
// Program-wide values shared by the windows.
//
// companionStandsIn is true while the companion stands in for the startup character; it lives for
// the whole run.

#include <QtGlobal>

extern bool companionStandsIn;
