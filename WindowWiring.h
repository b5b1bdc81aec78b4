#pragma once
// How the windows reach each other without including each other's headers: the control panel's
// hold on the character windows, and the companion's on the character it stands in for. main.cpp
// connects them before any window loads, and so do the tests that build windows without main.cpp.

void connectWindows();
