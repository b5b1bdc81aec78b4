#pragma once
// The settings dialog: leads to the account and server dialogs and holds the hang-up flag in
// hangUpBox, which is the flag's only place in memory; its unload stores the flag. A row below the
// rule sets the automatic check: its interval (INTERVAL beside NUMBER), which takes effect as it
// changes and is stored by the unload, and whether the program starts at login.

#include "ProgramWindow.h"

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class SettingsDialog : public ProgramWindow {
    Q_OBJECT
  public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // Whether a mail check hangs up after it: the box of the loaded dialog, or else what a load
    // would show. Loads nothing.
    static bool hangsUpAfterCheck();

    void onLoad() override;
    void onUnload() override;
    void editAccount();
    void editServer();

    QPushButton* accountButton;
    QPushButton* serverButton;
    // The hang-up flag.
    QCheckBox* hangUpBox;
    QLabel* hangUpLabel;
    QLabel* intervalLabel;
    // Minutes between automatic checks; 0 = off.
    QSpinBox* intervalBox;
    QCheckBox* startAtLoginBox;

    // Told every new interval the box takes, from the file at load or from the user.
    static void setIntervalListener(std::function<void(int minutes)> listener);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
