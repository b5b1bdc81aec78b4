#include "MessageBoxes.h"

#include "ProgramWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace {

// Qt centres a box on the pointer's monitor; with several, this one goes to the middle of the
// monitor the program's other windows are centred on.
class CentredBox : public QMessageBox {
  public:
    CentredBox() { setFont(ProgramWindow::unshapedFont()); }

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        const QRect monitor = ProgramWindow::centredMonitor();
        if (QGuiApplication::screens().size() < 2 || monitor.isEmpty())
            return;
        // The frame comes only once the box is on the screen; the program's framed windows that
        // are there already tell how wide it will be.
        QMargins frame;
        for (const QWindow* w : QGuiApplication::topLevelWindows())
            if (w->isVisible() && !w->frameMargins().isNull())
                frame = w->frameMargins();
        const QSize outer = size().grownBy(frame);
        const QPoint frameAt(monitor.x() + (monitor.width() - outer.width()) / 2,
                             monitor.y() + (monitor.height() - outer.height()) / 2);
        // Qt places the client area by the frame it knows, none before the box is on the screen.
        const QPoint knownFrame = geometry().topLeft() - pos();
        move(frameAt + QPoint(frame.left(), frame.top()) - knownFrame);
    }
};

MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}

int showReal(const QString& text, int style, const QString& title) {
    CentredBox box;
    box.setWindowTitle(title);
    box.setText(text);
    switch (style & 0x70) {
    case MessageBoxStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageBoxStyle::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageBoxStyle::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageBoxStyle::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    // Message boxes of this program stay above its always-on-top windows.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if ((style & 0x7) == MessageBoxStyle::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? MessageBoxResult::Yes : MessageBoxResult::No;
    }
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
    return MessageBoxResult::Ok;
}

} // namespace

int showMessageBox(const QString& text, int style, const QString& title) {
    if (handler())
        return handler()(text, style, title);
    return showReal(text, style, title);
}

void setMessageBoxHandler(MessageBoxHandler h) {
    handler() = std::move(h);
}
