#include "StartupCharacter.h"

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
    loadCharacter();
    if (steps().startPlace) {
        const QPointF at = steps().startPlace(QSizeF(widthTwips(), heightTwips()));
        moveToTwips(float(at.x()), float(at.y()));
    }
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
