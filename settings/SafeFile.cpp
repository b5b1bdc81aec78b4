#include "SafeFile.h"
#include "SafeFileNames.h"

#include <QRandomGenerator>

namespace SafeFile {
namespace {

const QString kTempMark = QStringLiteral(".mokopon-");
constexpr int kTempRandomLength = 6;

} // namespace

bool isLeftoverName(const QString& name) {
    const qsizetype mark = name.size() - kTempRandomLength - kTempMark.size();
    if (!name.startsWith(u'.') || mark < 2 ||
        QStringView(name).mid(mark, kTempMark.size()) != kTempMark)
        return false;
    for (const QChar c : QStringView(name).right(kTempRandomLength))
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    return true;
}

namespace detail {

QString temporaryPath(const QString& folder, const QString& fileName) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString random;
    for (int i = 0; i < kTempRandomLength; ++i)
        random += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
    return folder + QStringLiteral("/.") + fileName + kTempMark + random;
}

bool isLeftoverOf(const QString& name, const QString& fileName, Qt::CaseSensitivity cs) {
    return isLeftoverName(name) &&
           name.size() == fileName.size() + 1 + kTempMark.size() + kTempRandomLength &&
           QStringView(name).mid(1, fileName.size()).compare(fileName, cs) == 0;
}

} // namespace detail
} // namespace SafeFile
