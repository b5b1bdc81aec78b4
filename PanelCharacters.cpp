#include "PanelCharacters.h"

#include "Companion.h"
#include "ControlPanel.h"
#include "StartupCharacter.h"
#include "WindowRegistry.h"

void connectPanelToCharacters() {
    Characters characters;
    characters.place = [] {
        const StartupCharacter* character = win<StartupCharacter>();
        return Characters::Place{character->Left(), character->Top()};
    };
    characters.pin = [](Characters::Place place) {
        StartupCharacter* character = win<StartupCharacter>();
        character->setTop(place.top);
        character->setLeft(place.left);
    };
    // The companion loads first, and is shown before it moves onto the spot.
    characters.standIn = [] {
        Companion* companion = win<Companion>();
        StartupCharacter* character = win<StartupCharacter>();
        companion->Show();
        character->Hide();
        companion->setLeft(character->Left());
        companion->setTop(character->Top());
    };
    characters.park = [] {
        Companion* companion = win<Companion>();
        StartupCharacter* character = win<StartupCharacter>();
        companion->Hide();
        companion->setLeft(character->Left() + 1);
        companion->setTop(character->Top() + 1);
        character->Show();
    };
    characters.hearTick = [](QObject* context, std::function<void()> heard) {
        QObject::connect(win<StartupCharacter>(), &CharacterWindow::ticked, context,
                         std::move(heard));
    };
    ControlPanel::setCharacters(std::move(characters));
}
