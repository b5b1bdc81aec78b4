#include "ColourButtonStyle.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace {

// The Windows styles paint a button's face through the system's theme, which knows no colour, and
// never ask for the primitive below; Fusion does, as the style on Linux does.
QStyle* styleUnderneath() {
#ifdef Q_OS_WIN
    return QStyleFactory::create(QStringLiteral("Fusion"));
#else
    return nullptr; // the application's
#endif
}

} // namespace

ColourButtonStyle::ColourButtonStyle(QObject* parent) : QProxyStyle(styleUnderneath()) {
    setParent(parent);
}

void ColourButtonStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                      QPainter* painter, const QWidget* widget) const {
    if (element != PE_PanelButtonCommand) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QRect r = option->rect;
    const bool sunken = option->state & (State_Sunken | State_On);
    const QColor face = option->palette.button().color();
    const QColor light = Qt::white;
    const QColor dark(64, 64, 64);
    const QColor shade = face.darker(150);
    painter->save();
    painter->fillRect(r, face);
    painter->setPen(sunken ? dark : light);
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.topLeft(), r.bottomLeft());
    painter->setPen(sunken ? light : dark);
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    if (!sunken && r.width() > 4 && r.height() > 4) {
        painter->setPen(shade);
        painter->drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
        painter->drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
    }
    // The application's style shows the focus in the face it no longer draws.
    if ((option->state & State_HasFocus) && r.width() > 8 && r.height() > 8) {
        painter->setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(3, 3, -4, -4));
    }
    painter->restore();
}
