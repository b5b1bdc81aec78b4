#pragma once
// A button with a background colour shows that colour on its whole face, as a graphical-style
// button does, with a 1 px raised edge (sunken while pressed) and a dotted frame while it has the
// focus. The application's style would mix the colour into its own shaded, paler face.

#include <QProxyStyle>

class ColourButtonStyle : public QProxyStyle {
    Q_OBJECT
  public:
    explicit ColourButtonStyle(QObject* parent = nullptr);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
