#include "StartAtLogin.h"

#include <QDir>

#include <windows.h>

namespace StartAtLogin {

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"Mokopon";

bool carriable(const QString& path) {
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'"')
            return false;
    }
    return !path.isEmpty();
}

QString systemText(LSTATUS status) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString out = text ? QString::fromWCharArray(text).trimmed()
                             : QStringLiteral("error %1").arg(long(status));
    LocalFree(text);
    return out;
}

bool fail(QString* why, const QString& text) {
    if (why)
        *why = text;
    return false;
}

} // namespace

// The per-user Run key, whose values Windows runs at every login of the user.
QString entryPath() {
    return QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromWCharArray(kRunKey) + u'\\' +
           QString::fromWCharArray(kValueName);
}

bool isOn() {
    DWORD type = 0;
    return RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, &type, nullptr,
                        nullptr) == ERROR_SUCCESS;
}

// The Run value: the executable, quoted. Windows starts it in a folder of its own choosing, so the
// working folder cannot be carried; an installed copy keeps vbmail.ini in its own folder anyway.
QByteArray desktopEntry(const QString& executable, const QString& workingFolder) {
    if (!carriable(executable) || !carriable(workingFolder))
        return {};
    return (u'"' + QDir::toNativeSeparators(executable) + u'"').toUtf8();
}

bool turnOn(const QString& executable, const QString& workingFolder, QString* why) {
    const QByteArray entry = desktopEntry(executable, workingFolder);
    if (entry.isEmpty())
        return fail(why, QStringLiteral("the path of the program cannot be written into an entry"));
    const std::wstring value = QString::fromUtf8(entry).toStdWString();
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return fail(why, systemText(status));
    status =
        RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS || fail(why, systemText(status));
}

bool turnOff(QString* why) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS)
        return fail(why, systemText(status));
    status = RegDeleteValueW(key, kValueName);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ||
           fail(why, systemText(status));
}

} // namespace StartAtLogin
