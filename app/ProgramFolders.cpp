#include "ProgramFolders.h"

#include "Program.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString kMailData = QStringLiteral("★MailData");
const QString kOwnFolder = QStringLiteral("/mokopon");

// share/mokopon/ of an installation, seen from its bin/ (the build passes the relative path).
QString installedResources() {
    return QDir::cleanPath(Program::folder() + QStringLiteral("/" MOKOPON_RESOURCES_FROM_BIN));
}

QString dataHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + kOwnFolder;
}

QString configHome() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + kOwnFolder;
}

// Makes path and any missing folder above it, each with the owner's permissions alone; folders
// already there keep theirs.
bool makeOwnerOnly(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink())
        return false;
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !makeOwnerOnly(parent))
        return false;
    return QDir().mkdir(path,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) ||
           QFileInfo(path).isDir();
}

} // namespace

namespace ProgramFolders {

bool installed() {
    return !QFileInfo(Program::folder()).isWritable() || QFileInfo(installedResources()).isDir();
}

QString resources() {
    const QString shared = installedResources();
    return QFileInfo(shared).isDir() ? shared : Program::folder();
}

QString mailData() {
    return (installed() ? dataHome() : Program::folder()) + u'/' + kMailData;
}

QString serverSettings() {
    return installed() ? configHome() : QDir::currentPath();
}

bool createOwnFolders() {
    if (!installed())
        return true;
    const bool data = makeOwnerOnly(mailData());
    return makeOwnerOnly(serverSettings()) && data;
}

} // namespace ProgramFolders
