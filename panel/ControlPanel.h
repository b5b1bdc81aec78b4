#pragma once
// The control panel: a thin always-on-top bar of buttons under the startup character, which it
// holds at a fixed offset above itself while it is open.

#include "Characters.h"
#include "ProgramWindow.h"

#include <functional>

class MessageBoxes;
class QPushButton;
class QTimer;
struct BarkMode;

class ControlPanel : public ProgramWindow {
    Q_OBJECT
  public:
    // What the panel's buttons reach beyond the characters: the mail check with the settings it
    // needs (受信), the settings dialog (設定), the question before the home page (HP), and bark
    // mode, which 吠える turns on and the panel's unload off.
    struct Reach {
        std::function<void()> checkMail;
        std::function<void()> openSettings;
        MessageBoxes& boxes;
        BarkMode& barkMode;
    };

    ControlPanel(Characters characters, Reach reach, QWidget* parent = nullptr);

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

  private:
    Characters m_characters;
    Reach m_reach;
};
