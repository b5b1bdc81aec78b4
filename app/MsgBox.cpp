#include "MsgBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

MsgBoxHandler& handler() {
    static MsgBoxHandler h;
    return h;
}

int showReal(const QString& text, int style, const QString& title) {
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    switch (style & 0x70) {
    case MsgBoxStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgBoxStyle::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgBoxStyle::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgBoxStyle::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    // Message boxes of this program stay above its always-on-top windows.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if ((style & 0x7) == MsgBoxStyle::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? MsgBoxResult::Yes : MsgBoxResult::No;
    }
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
    return MsgBoxResult::Ok;
}

} // namespace

int MsgBox(const QString& text, int style, const QString& title) {
    if (handler())
        return handler()(text, style, title);
    return showReal(text, style, title);
}

void setMsgBoxHandler(MsgBoxHandler h) {
    handler() = std::move(h);
}
