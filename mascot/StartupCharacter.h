#pragma once
// The startup character: the program's first window. The program's start-up steps run around
// its load (main.cpp sets them); its unload is the orderly end.

#include "CharacterWindow.h"

#include <functional>

class StartupCharacter : public CharacterWindow {
    Q_OBJECT
  public:
    // The program's steps at the start of the load (false: another instance runs, and the
    // program ends quietly) and once the characters have their places. startPlace, where set,
    // gives the window's place in twips from its size in twips instead of the pointer's.
    struct StartupSteps {
        std::function<bool()> first;
        std::function<void()> afterPlacing;
        std::function<QPointF(QSizeF)> startPlace;
    };
    static void setStartupSteps(StartupSteps steps);

    explicit StartupCharacter(QWidget* parent = nullptr);

    void onLoad() override;
    void onUnload() override;
    void onDoubleClick() override;
    void tick() override;

  signals:
    void doubleClicked();
};
