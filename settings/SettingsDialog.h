#pragma once
// The settings dialog: leads to the account and server dialogs and holds the hang-up flag in
// hangUpBox, which is the flag's only place in memory; its unload stores the flag.

#include "ProgramWindow.h"

class QCheckBox;
class QLabel;
class QPushButton;

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

  protected:
    void paintEvent(QPaintEvent* event) override;
};
