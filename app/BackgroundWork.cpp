#include "BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>

namespace {

// Drops the user's input while the background work runs, except the right button, which ends
// the program on a character and does nothing anywhere else.
class InputGate final : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            return static_cast<QMouseEvent*>(event)->button() != Qt::RightButton;
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Drop:
            return true;
        default:
            return false;
        }
    }
};

} // namespace

void runInBackground(const std::function<void()>& work) {
    QEventLoop loop;
    InputGate gate;
    QCoreApplication::instance()->installEventFilter(&gate);
    startInBackground(&loop, work, [&loop] { loop.quit(); });
    loop.exec();
    QCoreApplication::instance()->removeEventFilter(&gate);
}
