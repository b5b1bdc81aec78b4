#include "WindowWiring.h"

#include "Companion.h"
#include "ControlPanel.h"
#include "StartupCharacter.h"
#include "WindowRegistry.h"

void connectWindows() {
    Characters characters;
    characters.place = [] {
        const StartupCharacter* character = win<StartupCharacter>();
        return Characters::Place{character->leftTwips(), character->topTwips()};
    };
    // Both at once: the panel pins the character twenty times a second, and each placement asks
    // the window system where the window is.
    characters.pin = [](Characters::Place place) {
        win<StartupCharacter>()->moveToTwips(place.left, place.top);
    };
    // The companion loads first, and is shown before it moves onto the spot.
    characters.standIn = [] {
        Companion* companion = win<Companion>();
        StartupCharacter* character = win<StartupCharacter>();
        companion->showOrRaise();
        character->hide();
        companion->setLeftTwips(character->leftTwips());
        companion->setTopTwips(character->topTwips());
    };
    // A companion that never stood in has nothing to leave.
    characters.park = [] {
        StartupCharacter* character = win<StartupCharacter>();
        if (Companion* companion = WindowRegistry::loaded<Companion>()) {
            companion->hide();
            companion->setLeftTwips(character->leftTwips() + 1);
            companion->setTopTwips(character->topTwips() + 1);
        }
        character->showOrRaise();
    };
    characters.hearTick = [](QObject* context, std::function<void()> heard) {
        QObject::connect(win<StartupCharacter>(), &CharacterWindow::ticked, context,
                         std::move(heard));
    };
    ControlPanel::setCharacters(std::move(characters));
    Companion::setStandsInFor([]() -> CharacterWindow* { return win<StartupCharacter>(); });
}
