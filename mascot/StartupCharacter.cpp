#include "StartupCharacter.h"

#include "Companion.h"
#include "EffectSound.h"
#include "MailClient.h"
#include "Program.h"
#include "ProgramState.h"
#include "WindowRegistry.h"

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
        unload();
        return;
    }
    // The companion loads hidden and waits 1 twip off the spot the character has before it moves
    // to the pointer.
    Companion* companion = win<Companion>();
    companion->hide();
    companion->setLeftTwips(leftTwips() + 1);
    companion->setTopTwips(topTwips() + 1);

    loadCharacter();
    if (steps().afterPlacing)
        steps().afterPlacing();
}

void StartupCharacter::onUnload() {
    EffectSound::stop();
    MailClient::stop();
    Program::endAtOnce();
}

void StartupCharacter::onDoubleClick() {
    emit doubleClicked();
}

void StartupCharacter::tick() {
    runTick(companionStandsIn);
}
