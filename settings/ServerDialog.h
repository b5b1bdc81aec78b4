#pragma once
// The server options dialog: SMTP server, POP3 server, mail address and APOP, written to
// vbmail.ini by 設定. Topmost and centred; Enter does not press 設定, Esc presses 中止.

#include "ProgramWindow.h"

struct ServerSettings;

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ServerDialog : public ProgramWindow {
    Q_OBJECT
  public:
    explicit ServerDialog(QWidget* parent = nullptr);

    // The server settings in use, which every load shows and a successful 設定 replaces; main.cpp
    // hands over the program's. Without them the dialog shows empty boxes and only saves the file.
    static void setSettingsInUse(ServerSettings* settings);

    void onLoad() override;
    void save();
    void cancel();

    QLabel* smtpLabel;
    QLineEdit* smtpEdit;
    QLabel* pop3Label;
    QLineEdit* pop3Edit;
    QLabel* mailLabel;
    QLineEdit* mailEdit;
    QCheckBox* apopBox;
    QPushButton* saveButton;
    QPushButton* cancelButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
