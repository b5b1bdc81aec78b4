#pragma once
// The control panel: a thin always-on-top bar of buttons under the startup character, which it
// holds at a fixed offset above itself while it is open.

#include "Characters.h"
#include "ProgramWindow.h"

#include <functional>

class QPushButton;
class QTimer;

class ControlPanel : public ProgramWindow {
    Q_OBJECT
  public:
    explicit ControlPanel(QWidget* parent = nullptr);

    // What 受信 runs; main.cpp hands over the mail check with the settings it needs.
    static void setMailCheck(std::function<void()> check);
    // How the panel reaches the characters; main.cpp hands it over before the panel loads.
    static void setCharacters(Characters characters);

    QPushButton* barkButton = nullptr;     // 吠える
    QPushButton* checkButton = nullptr;    // 受信
    QPushButton* settingsButton = nullptr; // 設定
    QPushButton* homePageButton = nullptr; // HP
    QPushButton* hangUpButton = nullptr;   // 切断, below the visible area
    QTimer* holdTimer = nullptr;

    void onLoad() override;
    bool canUnload() override;
    void onUnload() override;
    void holdCharacter();
    void bark();
    void checkMail();
    void openSettings();
    void offerHomePage();
    void hangUp();

    // The offsets that pin the character: it stands 3000 twips above and 100 right of the panel.
    static constexpr float kCharacterAbove = 3000;
    static constexpr float kCharacterRight = 100;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
};
