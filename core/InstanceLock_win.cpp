#include "InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

// Local\ keeps the name inside the user's session; the path (case folded, as Windows compares
// paths) tells one lock from another, and a hash keeps backslashes out of the name.
std::wstring mutexName(const QString& path) {
    const QString folded = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toLower();
    const QByteArray hash =
        QCryptographicHash::hash(folded.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return (QStringLiteral("Local\\mokopon-") + QString::fromLatin1(hash)).toStdWString();
}

} // namespace

InstanceLock::InstanceLock(QString path) : m_path(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

InstanceLock::Result InstanceLock::tryLock() {
    if (m_handle != -1)
        return Result::Taken;
    const std::wstring name = mutexName(m_path);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex)
        return GetLastError() == ERROR_ACCESS_DENIED ? Result::HeldElsewhere : Result::Unavailable;
    // The mutex lives while any process holds a handle to it; it is owned by no one once its
    // owner is gone (WAIT_ABANDONED), so a crash never leaves it taken.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return waited == WAIT_TIMEOUT ? Result::HeldElsewhere : Result::Unavailable;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    return Result::Taken;
}
