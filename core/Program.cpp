#include "Program.h"

#include "InstanceLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>

namespace Program {

bool anotherInstanceRunning() {
    static std::unique_ptr<InstanceLock> lock;
    if (!lock) {
        QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (dir.isEmpty())
            dir = QDir::tempPath();
        lock = std::make_unique<InstanceLock>(dir + QStringLiteral("/mokopon.lock"));
    }
    // A lock that cannot be made at all (no writable folder): run rather than refuse to start.
    return lock->tryLock() == InstanceLock::Result::HeldElsewhere;
}

void endAtOnce() {
    std::_Exit(0);
}

namespace {
QString& folderOverride() {
    static QString path;
    return path;
}
} // namespace

QString folder() {
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QDir::cleanPath(QCoreApplication::applicationDirPath());
}

void setFolder(const QString& path) {
    folderOverride() = path.isEmpty() ? path : QDir::cleanPath(path);
}

} // namespace Program
