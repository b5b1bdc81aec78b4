#include "StartAtLogin.h"

#include "ProgramFolders.h"
#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace StartAtLogin {

namespace {

// A string value of a desktop entry: backslash and line breaks escaped.
QString escapedValue(const QString& value) {
    QString out;
    for (const QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    return out;
}

// One argument of Exec, always quoted: inside the quotes ", `, $ and \ take a backslash, and %
// doubles; then the whole goes through the string escaping.
QString quotedArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    return escapedValue(quoted);
}

bool carriable(const QString& path) {
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return !path.isEmpty();
}

} // namespace

QString entryPath() {
    return ProgramFolders::configBase() + QStringLiteral("/autostart/mokopon.desktop");
}

bool isOn() {
    return QFileInfo(entryPath()).isFile();
}

QByteArray desktopEntry(const QString& executable, const QString& workingFolder) {
    if (!carriable(executable) || !carriable(workingFolder))
        return {};
    QString entry = QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=Mokopon\n"
                                   "Name[ja]=モコポン\n"
                                   "Comment=A desktop puppy that checks your POP3 mail\n"
                                   "Comment[ja]=デスクトップの子犬がPOP3のメールを確かめます\n");
    entry += QStringLiteral("Exec=%1\n").arg(quotedArgument(executable));
    entry += QStringLiteral("Path=%1\n").arg(escapedValue(workingFolder));
    entry += QStringLiteral("Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n");
    return entry.toUtf8();
}

bool turnOn(const QString& executable, const QString& workingFolder, QString* why) {
    const QByteArray entry = desktopEntry(executable, workingFolder);
    if (entry.isEmpty()) {
        if (why)
            *why = QStringLiteral("the path of the program cannot be written into an entry");
        return false;
    }
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).path())) {
        if (why)
            *why = QStringLiteral("the autostart folder cannot be made");
        return false;
    }
    return SafeFile::replaceFile(path, entry, std::nullopt, why);
}

bool turnOff(QString* why) {
    const QString path = entryPath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink()) {
        if (why)
            *why = QStringLiteral("a folder stands where the entry would be");
        return false;
    }
    QFile file(path);
    if (file.remove())
        return true;
    if (why)
        *why = file.errorString();
    return false;
}

} // namespace StartAtLogin
