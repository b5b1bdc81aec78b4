#pragma once
// The new-mail notice: a line of text and the number of messages, centred and always on top.
// Closing it ends bark mode and silences the sound; it leaves the companion where it stands.

#include "ProgramWindow.h"

class QLineEdit;

class NewMailNotice : public ProgramWindow {
    Q_OBJECT
  public:
    explicit NewMailNotice(QWidget* parent = nullptr);

    QLineEdit* messageText = nullptr; // the result message
    QLineEdit* countText = nullptr;   // the count

    void onLoad() override;
    void onUnload() override;
};
