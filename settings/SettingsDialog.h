#pragma once
// The settings dialog: leads to the account and server dialogs and holds the hang-up flag in
// Check1, which is the flag's only place in memory; its unload stores the flag. A row below the
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

    void Form_Load() override;
    void Form_Unload() override;
    void editAccount();
    void editServer();

    QPushButton* Command1;
    QPushButton* Command2;
    // The hang-up flag.
    QCheckBox* Check1;
    QLabel* Label1;
    QLabel* intervalLabel;
    // Minutes between automatic checks; 0 = off.
    QSpinBox* intervalBox;
    QCheckBox* startAtLoginBox;

    // Told every new interval the box takes, from the file at load or from the user.
    static void setIntervalListener(std::function<void(int minutes)> listener);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
