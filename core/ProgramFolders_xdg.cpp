#include "PlatformFolders.h"

#include "Program.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kOwnFolder = QStringLiteral("/mokopon");

// An XDG base folder: the variable's value, or the default under the home folder when it is
// unset or, as the XDG rules say, not an absolute path.
QString xdgBase(const char* variable, const QString& underHome) {
    const QString set = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(set) ? QDir::cleanPath(set) : QDir::homePath() + underHome;
}

} // namespace

namespace PlatformFolders {

// share/mokopon/ of an installation, seen from its bin/ (the build passes the relative path).
QString installedResources() {
    return QDir::cleanPath(Program::folder() + QStringLiteral("/" MOKOPON_RESOURCES_FROM_BIN));
}

bool installed() {
    return !QFileInfo(Program::folder()).isWritable() || QFileInfo(installedResources()).isDir();
}

QString dataHome() {
    return xdgBase("XDG_DATA_HOME", QStringLiteral("/.local/share")) + kOwnFolder;
}

QString configHome() {
    return configBase() + kOwnFolder;
}

QString configBase() {
    return xdgBase("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

} // namespace PlatformFolders
