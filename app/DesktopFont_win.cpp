#include "DesktopFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace DesktopFont {
namespace {

// What Japanese Windows itself shows dialogs in, newest first.
const QStringList kInterfaceFamilies{QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI"),
                                     QStringLiteral("MS UI Gothic"), QStringLiteral("Yu Gothic"),
                                     QStringLiteral("Meiryo"),       QStringLiteral("MS PGothic")};

bool hasJapanese(const QString& family) {
    return QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese);
}

QString japaneseFamily(const QFont& desktop) {
    const QString own = QFontInfo(desktop).family();
    if (hasJapanese(own))
        return QString();
    const QStringList all = QFontDatabase::families();
    for (const QString& family : kInterfaceFamilies) {
        if (all.contains(family, Qt::CaseInsensitive))
            return family;
    }
    // Otherwise a Japanese sans serif font of any name, such as a Linux one that Wine shows.
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    QString fallback;
    for (const QString& family : japanese) {
        if (family.startsWith(u'@') || QFontDatabase::isFixedPitch(family))
            continue; // vertical forms, or a typewriter face
        if (family.contains(u"Gothic", Qt::CaseInsensitive) ||
            family.contains(u"Sans", Qt::CaseInsensitive))
            return family;
        if (fallback.isEmpty() && !family.contains(u"Serif", Qt::CaseInsensitive) &&
            !family.contains(u"Mincho", Qt::CaseInsensitive))
            fallback = family;
    }
    return fallback;
}

} // namespace

void chooseFamily(QFont& font) {
    static const QString family = japaneseFamily(font);
    if (!family.isEmpty())
        font.setFamily(family);
}

} // namespace DesktopFont
