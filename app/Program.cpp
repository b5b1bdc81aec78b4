#include "Program.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>

namespace Program {

bool anotherInstanceRunning()
{
    static std::unique_ptr<QLockFile> lock;
    static bool held = false;
    if (held)
        return false;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    lock = std::make_unique<QLockFile>(dir + QStringLiteral("/mokopon.lock"));
    // A lock whose process is gone counts as stale at once.
    lock->setStaleLockTime(0);
    held = lock->tryLock(0);
    if (!held && lock->error() == QLockFile::LockFailedError)
        return true;
    // The lock could not be made at all (no writable folder): run rather than refuse to start.
    held = true;
    return false;
}

void endAtOnce() { std::_Exit(0); }

namespace {
QString& folderOverride()
{
    static QString path;
    return path;
}
} // namespace

QString folder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QDir::cleanPath(QCoreApplication::applicationDirPath());
}

void setFolder(const QString& path) { folderOverride() = path.isEmpty() ? path : QDir::cleanPath(path); }

} // namespace Program
