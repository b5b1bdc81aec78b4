#pragma once
// Gives the control panel its hold on the character windows. main.cpp does so before any window
// loads, and so do the tests that build the panel without main.cpp.

void connectPanelToCharacters();
