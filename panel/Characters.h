#pragma once
// The control panel's hold on the two characters, whose windows it does not know. main.cpp hands
// over the operations; each one loads the windows it touches on their first use.

#include <functional>

class QObject;

struct Characters {
    // A place in twips.
    struct Place {
        float left = 0;
        float top = 0;
    };

    // Where the startup character stands.
    std::function<Place()> place;
    // Puts the startup character there.
    std::function<void(Place)> pin;
    // The companion shows on the startup character's place, and the startup character hides.
    std::function<void()> standIn;
    // The companion hides one twip off the startup character's place (no meeting there), and the
    // startup character shows again.
    std::function<void()> park;
    // Calls heard after each tick of the startup character has placed it, while context lives.
    std::function<void(QObject* context, std::function<void()> heard)> hearTick;
};
