#pragma once
// The settings dialog: leads to the account and server dialogs and holds the hang-up flag in
// Check1, which is the flag's only place in memory; its unload stores the flag.

#include "ProgramWindow.h"

class QCheckBox;
class QLabel;
class QPushButton;

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

  protected:
    void paintEvent(QPaintEvent* event) override;
};
