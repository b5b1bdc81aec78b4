#pragma once
// The program's modal message boxes, with Qt's names for their icons, buttons and answers. Each
// window that asks gets the boxes from the program's root; widget tests hand over boxes that
// answer at once instead of blocking.

#include <QRect>
#include <QString>
#include <functional>

class MessageBoxes {
  public:
    enum class Icon { NoIcon, Information, Warning, Critical, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    // Shows the box and waits for the answer.
    virtual Answer ask(const QString& text, Icon icon, Buttons buttons, const QString& title) = 0;
    // A box with one OK button.
    void tell(const QString& text, Icon icon, const QString& title) {
        ask(text, icon, Buttons::Ok, title);
    }
};

// The boxes the user sees: above the program's always-on-top windows, and with several monitors
// in the middle of the one the program's centred windows go to.
class ModalMessageBoxes final : public MessageBoxes {
  public:
    // centredMonitor: that monitor in pixels, an empty rectangle for Qt's own choice.
    explicit ModalMessageBoxes(std::function<QRect()> centredMonitor);
    Answer ask(const QString& text, Icon icon, Buttons buttons, const QString& title) override;

  private:
    std::function<QRect()> m_centredMonitor;
};
