#include "ProgramFolders.h"

#include "Program.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kMailData = QStringLiteral("★MailData");
const QString kOwnFolder = QStringLiteral("/mokopon");

// share/mokopon/ of an installation, seen from its bin/ (the build passes the relative path).
QString installedResources() {
    return QDir::cleanPath(Program::folder() + QStringLiteral("/" MOKOPON_RESOURCES_FROM_BIN));
}

// An XDG base folder: the variable's value, or the default under the home folder when it is
// unset or, as the XDG rules say, not an absolute path.
QString xdgBase(const char* variable, const QString& underHome) {
    const QString set = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(set) ? QDir::cleanPath(set) : QDir::homePath() + underHome;
}

QString dataHome() {
    return xdgBase("XDG_DATA_HOME", QStringLiteral("/.local/share")) + kOwnFolder;
}

QString configHome() {
    return ProgramFolders::configBase() + kOwnFolder;
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

QString configBase() {
    return xdgBase("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

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
