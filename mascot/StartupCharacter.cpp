#include "StartupCharacter.h"

#include "Companion.h"
#include "EffectSound.h"
#include "Program.h"
#include "ProgramState.h"
#include "WindowRegistry.h"
#include "nMail.h"

namespace {

StartupCharacter::StartupSteps& steps() {
    static StartupCharacter::StartupSteps s;
    return s;
}

} // namespace

void StartupCharacter::setStartupSteps(StartupSteps s) {
    steps() = std::move(s);
}

StartupCharacter::StartupCharacter(QWidget* parent)
    : CharacterWindow(QStringLiteral("Form1"), "ABCCBACB", 1440, 225, parent) {}

void StartupCharacter::onLoad() {
    if (steps().first && !steps().first()) {
        Unload();
        return;
    }
    // The companion loads hidden and waits 1 twip off the spot the character has before it moves
    // to the pointer.
    Companion* companion = win<Companion>();
    companion->Hide();
    companion->setLeft(Left() + 1);
    companion->setTop(Top() + 1);

    loadCharacter();
    if (steps().afterPlacing)
        steps().afterPlacing();
}

void StartupCharacter::onUnload() {
    EffectSound::stop();
    NMailEndWinSock();
    Program::endAtOnce();
}

void StartupCharacter::onDoubleClick() {
    emit doubleClicked();
}

void StartupCharacter::tick() {
    runTick(BarkMode == 1);
}
