#include "ProgramFolders.h"

#include "PlatformFolders.h"
#include "Program.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString kMailData = QStringLiteral("★MailData");

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
    return PlatformFolders::configBase();
}

bool installed() {
    return PlatformFolders::installed();
}

QString resources() {
    const QString shared = PlatformFolders::installedResources();
    return QFileInfo(shared).isDir() ? shared : Program::folder();
}

QString mailData() {
    return (installed() ? PlatformFolders::dataHome() : Program::folder()) + u'/' + kMailData;
}

QString module(const QString& fileName) {
    // The executable's own folder, also where tests have moved the program's folder elsewhere.
    const QDir bin(QCoreApplication::applicationDirPath());
    const QString beside = QDir::cleanPath(bin.filePath(fileName));
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QDir::cleanPath(bin.filePath(QStringLiteral(MOKOPON_MODULES_FROM_BIN "/") + fileName));
    return QFileInfo::exists(installed) ? installed : beside;
}

QString serverSettings() {
    return installed() ? PlatformFolders::configHome() : QDir::currentPath();
}

bool createOwnFolders() {
    if (!installed())
        return true;
    const bool data = makeOwnerOnly(mailData());
    return makeOwnerOnly(serverSettings()) && data;
}

} // namespace ProgramFolders
