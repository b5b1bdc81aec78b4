#pragma once
// The server options dialog: SMTP server, POP3 server, mail address and APOP, written to
// vbmail.ini by 設定. Topmost and centred; Enter does not press 設定, Esc presses 中止.

#include "ProgramWindow.h"

struct ServerSettings;

class MessageBoxes;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ServerDialog : public ProgramWindow {
    Q_OBJECT
  public:
    // inUse: the server settings in use, which every load shows and a successful 設定 replaces.
    // boxes: where a failed save says why; centredMonitor: where it opens
    // (ProgramWindow::centreOnScreen).
    ServerDialog(ServerSettings& inUse, MessageBoxes& boxes, std::function<QRect()> centredMonitor,
                 QWidget* parent = nullptr);

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

  private:
    ServerSettings& m_inUse;
    MessageBoxes& m_boxes;
    std::function<QRect()> m_centredMonitor;
};
