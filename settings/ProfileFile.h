#pragma once
// The two INI files, read and written by the rules of the Windows profile functions, so that files
// written by the Windows version and by this one read the same:
// - CR LF, LF and a lone CR each end a line;
// - section and key names match without regard to case; only the first section of a name and the
//   first key of a name within it count, for reading and for writing;
// - a value read loses the blanks around it and one pair of enclosing quotes, and is cut to the
//   buffer (255 bytes of cp932 for a 256-byte buffer);
// - a write replaces the value of an existing key in place, appends a new key after the last line
//   of its section and a new section at the end of the file, keeps every other byte of the file,
//   and ends the lines it writes with CR LF;
// - nothing is written, and no file is created, when the file's folder does not exist.
// Unlike the platform, a write never leaves a half-written file: the new contents are written
// aside and then renamed over the old file. Only regular files are read or written (SafeFile.h):
// anything else at the path reads as a missing file, and a write to it fails.

#include <QFileDevice>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace ProfileFile {

enum class WriteStatus {
    Written,
    FolderMissing, // the data folder is expected to exist and is never created
    Unencodable,   // a name or value cannot be stored (see canStore); nothing written
    Failed,        // the file could not be replaced; the old file is untouched
};

// True when the text can go into a settings file: cp932 holds every character, and there is no
// line break or NUL that would end the line early or add lines of its own.
bool canStore(const QString& text);

// The value to write so that a read gives back text exactly: a value that reading would change
// (blanks at either end, or a pair of enclosing quotes) is put in double quotes, which the
// platform's reader, and ours, remove again.
QString protectForRead(const QString& text);

// GetPrivateProfileStringA: the value, or defaultValue when the file, section or key is missing.
QString getString(const QString& section, const QString& key, const QString& defaultValue,
                  const QString& path, int bufferSize = 256);

// GetPrivateProfileIntA: the value read as an integer (as a 32-bit signed number), or
// defaultValue when the file, section or key is missing or the value is empty.
qint32 getInt(const QString& section, const QString& key, qint32 defaultValue, const QString& path);

// WritePrivateProfileStringA for one key. A file the reads take as missing (too big, unreadable)
// is replaced as if it were missing: a file with just the key.
WriteStatus writeString(const QString& section, const QString& key, const QString& value,
                        const QString& path,
                        std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Several keys written in order, with the result of as many single writes, in one replace of
// the file. permissions, when given, are forced on the file (also on an existing one).
WriteStatus writeStrings(const QString& section, const QList<QPair<QString, QString>>& entries,
                         const QString& path,
                         std::optional<QFileDevice::Permissions> permissions = std::nullopt);

} // namespace ProfileFile
