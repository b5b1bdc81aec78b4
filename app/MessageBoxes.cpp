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
    explicit CentredBox(QRect monitor) : m_monitor(monitor) {
        setFont(ProgramWindow::unshapedFont());
    }

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        const QRect monitor = m_monitor;
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

  private:
    QRect m_monitor;
};

QMessageBox::Icon qtIcon(MessageBoxes::Icon icon) {
    switch (icon) {
    case MessageBoxes::Icon::Information:
        return QMessageBox::Information;
    case MessageBoxes::Icon::Warning:
        return QMessageBox::Warning;
    case MessageBoxes::Icon::Critical:
        return QMessageBox::Critical;
    case MessageBoxes::Icon::Question:
        return QMessageBox::Question;
    case MessageBoxes::Icon::NoIcon:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

ModalMessageBoxes::ModalMessageBoxes(std::function<QRect()> centredMonitor)
    : m_centredMonitor(std::move(centredMonitor)) {}

MessageBoxes::Answer ModalMessageBoxes::ask(const QString& text, Icon icon, Buttons buttons,
                                            const QString& title) {
    CentredBox box(m_centredMonitor ? m_centredMonitor() : QRect());
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(qtIcon(icon));
    // Message boxes of this program stay above its always-on-top windows.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (buttons == Buttons::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? Answer::Yes : Answer::No;
    }
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
    return Answer::Ok;
}
