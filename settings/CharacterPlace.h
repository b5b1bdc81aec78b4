#pragma once
// Where the character stood when the program last ran, for a session whose pointer position is
// unknown at the start (Wayland). One line in a file of this program in the data folder: the left
// and top of the window in whole twips. The Windows version's files never hold it.

#include <QPoint>
#include <QString>
#include <optional>

namespace CharacterPlace {

// The file in the data folder.
QString filePath();

// The place in the file; nothing when it is missing, unreadable or not two whole numbers a
// screen can hold.
std::optional<QPoint> read(const QString& path);

// Replaces the file, only inside an existing folder; quiet when it cannot.
void write(const QString& path, const QPoint& twips);

} // namespace CharacterPlace
