#pragma once
// Bark mode: on while the companion stands in for the startup character. One for the whole run,
// kept by the program's root; the panel turns it on, the panel's and the notice's unloads turn it
// off, and the startup character's tick reads it.

struct BarkMode {
    bool on = false;
};
