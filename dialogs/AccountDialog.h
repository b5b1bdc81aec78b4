#pragma once
// The account dialog: POP3 user id and password, stored in the account file when the save box is
// ticked. Modeless; Enter presses OK, Esc presses Cancel.

#include "ProgramWindow.h"

class MessageBoxes;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class AccountDialog : public ProgramWindow {
    Q_OBJECT
  public:
    // boxes: where a failed save says why.
    explicit AccountDialog(MessageBoxes& boxes, QWidget* parent = nullptr);

    void onLoad() override;
    // Puts an account into the boxes, in place of what they hold.
    void showAccount(const QString& id, const QString& password);
    // Both the id and the password are there.
    bool hasAccount() const;
    void accept();
    void cancel();

    QLabel* idLabel;
    QLineEdit* idEdit;
    QLabel* passwordLabel;
    QLineEdit* passwordEdit;
    QLabel* saveLabel;
    // The save box.
    QCheckBox* saveBox;
    QPushButton* okButton;
    QPushButton* cancelButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    MessageBoxes& m_boxes;
};
