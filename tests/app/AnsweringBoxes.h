#pragma once
// Message boxes that a test answers: each is recorded and answered at once.

#include "MessageBoxes.h"

#include <QList>
#include <functional>

struct ShownBox {
    QString text;
    MessageBoxes::Icon icon;
    QString title;
};

class AnsweringBoxes final : public MessageBoxes {
  public:
    QList<ShownBox> shown;
    Answer answer = Answer::Ok;
    // Told of each box as it is shown.
    std::function<void(const ShownBox&)> heard;

    Answer ask(const QString& text, Icon icon, Buttons, const QString& title) override {
        shown << ShownBox{text, icon, title};
        if (heard)
            heard(shown.last());
        return answer;
    }
};
