#include "PlatformFolders.h"

#include "Program.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Windows' own spelling of a path, folded for comparing (Windows compares paths without case).
QString comparable(const QString& path) {
    return QDir::cleanPath(QDir::fromNativeSeparators(path)).toLower();
}

bool isInside(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    const QString f = comparable(folder);
    const QString p = comparable(path);
    return p == f || p.startsWith(f + u'/');
}

// %APPDATA%, the roaming per-user folder where Windows programs keep their settings.
QString appData() {
    const QString set = qEnvironmentVariable("APPDATA");
    return QDir::isAbsolutePath(set) ? QDir::cleanPath(QDir::fromNativeSeparators(set))
                                     : QDir::homePath() + QStringLiteral("/AppData/Roaming");
}

} // namespace

namespace PlatformFolders {

// An installed copy carries its sound and home page beside the executable, as an unpacked one.
QString installedResources() {
    return Program::folder();
}

// Installed: under Program Files (where its user may not write, and the installer puts it), or in
// a folder its user cannot write.
bool installed() {
    const QString folder = Program::folder();
    for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
        if (isInside(folder, qEnvironmentVariable(variable)))
            return true;
    }
    return !QFileInfo(folder).isWritable();
}

QString dataHome() {
    return appData() + QStringLiteral("/Mokopon");
}

QString configHome() {
    return dataHome();
}

QString configBase() {
    return appData();
}

} // namespace PlatformFolders
