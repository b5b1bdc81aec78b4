#pragma once
// The settings dialog: leads to the account and server dialogs and holds the hang-up flag in
// hangUpBox, which is the flag's only place in memory; its unload stores the flag. A row below the
// rule sets the automatic check: its interval (INTERVAL beside NUMBER), which takes effect as it
// changes and is stored by the unload, and whether the program starts at login.

#include "ProgramWindow.h"

#include <functional>

class MessageBoxes;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class SettingsDialog : public ProgramWindow {
    Q_OBJECT
  public:
    // What the dialog reaches: the account and server dialogs its buttons open, who is told every
    // new interval the box takes (from the file at load or from the user), the boxes a failed
    // save says why in, and the monitor it opens on (ProgramWindow::centreOnScreen).
    struct Reach {
        std::function<void()> openAccount;
        std::function<void()> openServer;
        std::function<void(int minutes)> intervalChanged;
        MessageBoxes& boxes;
        std::function<QRect()> centredMonitor;
    };

    explicit SettingsDialog(Reach reach, QWidget* parent = nullptr);

    // Whether a mail check hangs up after it: the box of the loaded dialog (nullptr when none is
    // loaded), or else what a load would show.
    static bool hangsUpAfterCheck(const SettingsDialog* loaded);

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

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Reach m_reach;
};
