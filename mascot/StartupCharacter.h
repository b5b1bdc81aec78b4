#pragma once
// The startup character: the program's first window, made and loaded at the start. Its unload is
// the orderly end.

#include "CharacterWindow.h"

struct BarkMode;

class StartupCharacter : public CharacterWindow {
    Q_OBJECT
  public:
    // barkMode: while it is on, the character holds its first frame.
    StartupCharacter(const BarkMode& barkMode, Surroundings surroundings,
                     QWidget* parent = nullptr);

    void onLoad() override;
    void onUnload() override;
    void onDoubleClick() override;
    void tick() override;

  signals:
    void doubleClicked();

  private:
    const BarkMode& m_barkMode;
};
