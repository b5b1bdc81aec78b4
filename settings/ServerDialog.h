#pragma once
// The server options dialog: SMTP server, POP3 server, mail address and APOP, written to
// vbmail.ini by 設定. Topmost and centred; Enter does not press 設定, Esc presses 中止.

#include "ProgramWindow.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ServerDialog : public ProgramWindow {
    Q_OBJECT
  public:
    explicit ServerDialog(QWidget* parent = nullptr);

    void Form_Load() override;
    void OkCommand_Click();
    void CancelCommand_Click();

    QLabel* Label1;
    QLineEdit* SmtpText;
    QLabel* Label2;
    QLineEdit* Pop3Text;
    QLabel* Label3;
    QLineEdit* MailText;
    QCheckBox* ApopCheck;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
