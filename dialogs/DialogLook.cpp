#include "DialogLook.h"

#include "ColourButtonStyle.h"
#include "ProgramWindow.h"
#include "Twips.h"

#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QPalette>
#include <QPushButton>

namespace DialogLook {

void setUpDialog(ProgramWindow* window, const QString& caption, float clientWidth,
                 float clientHeight) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(caption);
    // The icon is built into the program when the asset exists.
    if (QFile::exists(QStringLiteral(":/icon.png")))
        window->setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    window->setWidthTwips(clientWidth);
    window->setHeightTwips(clientHeight);
    window->setFixedSize(Twips::toPixelsX(clientWidth), Twips::toPixelsY(clientHeight));
}

void place(QWidget* control, float left, float top, float width, float height) {
    control->setGeometry(Twips::rect(left, top, width, height));
}

namespace {

void fitNow(QWidget* control) {
    const QWidget* client = control->parentWidget();
    const QRect r = control->geometry();
    const QSize need = control->sizeHint();
    const int width = qMin(qMax(r.width(), need.width()), client->width() - r.x());
    const int height = qMin(qMax(r.height(), need.height()), client->height() - r.y());
    control->resize(width, height);
}

// Measuring text loads the fonts, which costs start-up time for dialogs that load hidden; so the
// caption is fitted when it is first shown (before the window appears).
class FitOnShow : public QObject {
  public:
    explicit FitOnShow(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            fitNow(static_cast<QWidget*>(watched));
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }
};

} // namespace

void fitText(QWidget* control) {
    if (control->isVisible()) {
        fitNow(control);
        return;
    }
    control->installEventFilter(new FitOnShow(control));
}

void setTextColour(QWidget* control, const QColor& colour) {
    QPalette p = control->palette();
    p.setColor(QPalette::WindowText, colour);
    control->setPalette(p);
}

void setBackColour(QWidget* control, const QColor& colour) {
    QPalette p = control->palette();
    p.setColor(QPalette::Button, colour);
    p.setColor(QPalette::Window, colour);
    control->setPalette(p);
    control->setAutoFillBackground(true);
    if (auto* button = qobject_cast<QPushButton*>(control))
        button->setStyle(new ColourButtonStyle(button));
}

} // namespace DialogLook
