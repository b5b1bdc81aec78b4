#include "StartupCharacter.h"

#include "EffectSound.h"
#include "ProgramState.h"

StartupCharacter::StartupCharacter(const BarkMode& barkMode, Surroundings surroundings,
                                   QWidget* parent)
    : CharacterWindow(QStringLiteral("Form1"), "ABCCBACB", 1440, 225, std::move(surroundings),
                      parent),
      m_barkMode(barkMode) {}

void StartupCharacter::onLoad() {
    loadCharacter();
}

void StartupCharacter::onUnload() {
    EffectSound::stop();
    endProgram();
}

void StartupCharacter::onDoubleClick() {
    emit doubleClicked();
}

void StartupCharacter::tick() {
    runTick(m_barkMode.on);
}
