#pragma once
// The new-mail notice: a line of text and the number of messages, centred and always on top.
// Closing it ends bark mode and silences the sound; it leaves the companion where it stands.

#include "ProgramWindow.h"

class QLineEdit;
struct BarkMode;

class NewMailNotice : public ProgramWindow {
    Q_OBJECT
  public:
    // centredMonitor: where it opens (ProgramWindow::centreOnScreen); its unload turns barkMode
    // off.
    NewMailNotice(BarkMode& barkMode, std::function<QRect()> centredMonitor,
                  QWidget* parent = nullptr);

    QLineEdit* messageText = nullptr; // the result message
    QLineEdit* countText = nullptr;   // the count

    void onLoad() override;
    void onUnload() override;

  private:
    BarkMode& m_barkMode;
    std::function<QRect()> m_centredMonitor;
};
