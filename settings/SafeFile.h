#pragma once
// Reading and replacing a small file of this program without trusting what stands at its path:
// - a read opens only a regular file (a symbolic link to one is followed, so a user may link a
//   settings file), never a FIFO, device, socket or folder, and never more than a cap: nothing at
//   the path can block the read, or make it take long or much memory;
// - a replace never writes through a symbolic link or into anything but a regular file, whoever
//   runs the program; the new bytes go to a temporary file beside the old one that is then
//   renamed over it, so a crash leaves the old or the new file, never a mix;
// - a temporary file is named ".<file name>.mokopon-XXXXXX" (6 letters or digits) in the same
//   folder; a crash can leave one behind, which removeLeftovers (at the start-up) and the next
//   replace of the same file delete.

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <optional>

namespace SafeFile {

// Far above any real settings file (a few hundred bytes), far below what could hurt.
inline constexpr qint64 kSettingsCap = 1024 * 1024;

enum class Found {
    Read,    // bytes holds the whole file
    Missing, // nothing at the path (or a link to nothing)
    Refused, // something is there that is not read; why says which file and why
};

struct Contents {
    Found found = Found::Missing;
    QByteArray bytes;
    QString why;
};

// The bytes of the regular file at path, at most cap of them; a larger file is refused whole.
Contents readRegularFile(const QString& path, qint64 cap = kSettingsCap);

// Puts bytes in place of the file at path, or in a new file there. Refused (false, why set) when
// the path is a symbolic link or anything but a regular file; the folder must exist. The file
// gets permissions when given (the temporary file has them from its creation, so a file with a
// password in it is never readable by others), else keeps those of the old file when its owner
// may read and write it, else gets the usual ones for a new file. On Windows it gets a fresh
// access list: full control for its owner, and nothing more for an owner-only file, else what the
// folder hands down. On failure the old file is untouched and no temporary file is left.
bool replaceFile(const QString& path, const QByteArray& bytes,
                 std::optional<QFileDevice::Permissions> permissions = std::nullopt,
                 QString* why = nullptr);

// Deletes the temporary files of interrupted replaces in folder: regular files of the name
// pattern above only; links and anything else of that name stay.
void removeLeftovers(const QString& folder);

// True when name is the name of a temporary file of a replace.
bool isLeftoverName(const QString& name);

} // namespace SafeFile
