#pragma once
// The account dialog: POP3 user id and password, stored in the account file when the save box is
// ticked. Modeless; Enter presses OK, Esc presses Cancel.

#include "ProgramWindow.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class AccountDialog : public ProgramWindow {
    Q_OBJECT
  public:
    explicit AccountDialog(QWidget* parent = nullptr);

    void Form_Load() override;
    void OKCommand_Click();
    void CancelCommand_Click();

    QLabel* Label1;
    QLineEdit* IdText;
    QLabel* Label2[2];
    QLineEdit* PassText;
    // The save box.
    QCheckBox* Check1;
    QPushButton* OKCommand;
    QPushButton* CancelCommand;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
