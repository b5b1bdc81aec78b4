#pragma once
// Password boxes show one "*" per character, as the Windows version's dialogs do, instead of the
// style's dot.

#include <QProxyStyle>

class PasswordStarStyle : public QProxyStyle {
    Q_OBJECT
  public:
    explicit PasswordStarStyle(QObject* parent = nullptr);

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
