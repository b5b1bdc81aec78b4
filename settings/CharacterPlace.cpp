#include "CharacterPlace.h"

#include "DataFiles.h"
#include "SafeFile.h"

#include <QList>

namespace {

// Far past any desktop (a million pixels), far inside a float's whole numbers.
constexpr qint64 kReach = 15'000'000;
constexpr qint64 kFileCap = 256;

} // namespace

namespace CharacterPlace {

QString filePath() {
    return dataFolderPath() + QStringLiteral("/character-place.txt");
}

std::optional<QPoint> read(const QString& path) {
    const SafeFile::Contents file = SafeFile::readRegularFile(path, kFileCap);
    if (file.found != SafeFile::Found::Read)
        return std::nullopt;
    const QList<QByteArray> fields = file.bytes.simplified().split(' ');
    if (fields.size() != 2)
        return std::nullopt;
    bool okLeft = false;
    bool okTop = false;
    const qint64 left = fields[0].toLongLong(&okLeft);
    const qint64 top = fields[1].toLongLong(&okTop);
    if (!okLeft || !okTop || qAbs(left) > kReach || qAbs(top) > kReach)
        return std::nullopt;
    return QPoint(int(left), int(top));
}

void write(const QString& path, const QPoint& twips) {
    SafeFile::replaceFile(path, QByteArray::number(twips.x()) + ' ' +
                                    QByteArray::number(twips.y()) + '\n');
}

} // namespace CharacterPlace
