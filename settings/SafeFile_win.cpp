#include "SafeFile.h"
#include "SafeFileNames.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <sddl.h>

namespace SafeFile {
namespace {

// Owns one file handle.
class Handle {
  public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (valid())
            CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_h; }
    // Closes now, so that an error of the close itself is seen.
    bool close() {
        const HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

  private:
    HANDLE m_h;
};

QString native(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::wstring wide(const QString& path) {
    return native(path).toStdWString();
}

QString errorText(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString out = text ? QString::fromWCharArray(text).trimmed()
                             : QStringLiteral("error %1").arg(ulong(error));
    LocalFree(text);
    return out;
}

Contents refused(QString why) {
    return {Found::Refused, QByteArray(), std::move(why)};
}

QString cannotRead(const QString& path, DWORD error) {
    return QStringLiteral("%1 を読み込めません: %2").arg(native(path), errorText(error));
}

QString cannotWrite(const QString& path, DWORD error) {
    return QStringLiteral("%1 に書き込めません: %2").arg(native(path), errorText(error));
}

QString notRegularForRead(const QString& path) {
    return QStringLiteral("%1 は通常のファイルではないため、読み込みません。").arg(native(path));
}

QString tooLarge(const QString& path, qint64 cap) {
    return QStringLiteral("%1 は大きすぎるため、読み込みません（上限 %2 バイト）。")
        .arg(native(path))
        .arg(cap);
}

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

// A reparse point is a symbolic link, a junction or a mount point: never followed here.
constexpr DWORD kNotPlain =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

// The access list of a new file: full control for the user running the program, and either no
// one else (protected: nothing inherited from the folder) or whatever the folder hands down.
class FreshAccess {
  public:
    explicit FreshAccess(bool ownerAlone) {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::string buffer(size, '\0');
        wchar_t* sid = nullptr;
        if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
            const std::wstring sddl =
                std::wstring(ownerAlone ? L"D:P" : L"D:") + L"(A;;FA;;;" + sid + L")";
            ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                 &m_descriptor, nullptr);
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    ~FreshAccess() { LocalFree(m_descriptor); }
    FreshAccess(const FreshAccess&) = delete;
    FreshAccess& operator=(const FreshAccess&) = delete;
    bool valid() const { return m_descriptor != nullptr; }
    SECURITY_ATTRIBUTES* attributes() {
        m_attributes = {sizeof m_attributes, m_descriptor, FALSE};
        return &m_attributes;
    }

  private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

bool ownerOnly(QFileDevice::Permissions p) {
    return !(p & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                  QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther));
}

bool writeAll(HANDLE h, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 20));
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        left -= written;
    }
    return true;
}

// Removes the leftovers in folder whose name passes the filter; never a folder or a reparse point.
template <typename Filter> void removeIn(const QString& folder, Filter keep) {
    WIN32_FIND_DATAW found;
    const std::wstring pattern = wide(folder + QStringLiteral("/*"));
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (!isLeftoverName(name) || !keep(name) || (found.dwFileAttributes & kNotPlain))
            continue;
        DeleteFileW(wide(folder + u'/' + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

Contents readRegularFile(const QString& path, qint64 cap) {
    if (path.isEmpty())
        return {};
    const std::wstring name = wide(path);
    // The reparse point itself is opened, never what it points to.
    Handle file(CreateFileW(
        name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        if (isMissing(error))
            return {};
        return refused(cannotRead(path, error));
    }
    // A device (NUL, CON, a pipe) is no disk file; a folder or a link is no regular one.
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & kNotPlain))
        return refused(notRegularForRead(path));
    const qint64 size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > cap)
        return refused(tooLarge(path, cap));

    // Read to the end rather than trusting the size: the file may grow meanwhile.
    QByteArray bytes;
    bytes.resize(qsizetype(size) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > cap)
                return refused(tooLarge(path, cap));
            bytes.resize(qsizetype(qMin<qint64>(cap + 1, qint64(used) * 2 + 4096)));
        }
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + used, DWORD(bytes.size() - used), &n, nullptr))
            return refused(cannotRead(path, GetLastError()));
        if (n == 0)
            break;
        used += n;
    }
    if (used > cap)
        return refused(tooLarge(path, cap));
    bytes.truncate(used);
    return {Found::Read, std::move(bytes), QString()};
}

bool replaceFile(const QString& path, const QByteArray& bytes,
                 std::optional<QFileDevice::Permissions> permissions, QString* why) {
    QString ignored;
    QString& reason = why ? *why : ignored;
    const std::wstring name = wide(path);
    auto refuseWhatIsThere = [&](DWORD attributes) {
        reason = attributes & FILE_ATTRIBUTE_REPARSE_POINT
                     ? QStringLiteral("%1 はシンボリックリンクのため、書き込みません。")
                           .arg(native(path))
                     : QStringLiteral("%1 は通常のファイルではないため、書き込みません。")
                           .arg(native(path));
        return false;
    };

    // The path itself is looked at, not what a reparse point there leads to.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & kNotPlain))
        return refuseWhatIsThere(attributes);
    if (!exists && !isMissing(GetLastError())) {
        reason = cannotWrite(path, GetLastError());
        return false;
    }

    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString fileName = info.fileName();
    removeIn(folder, [&](const QString& n) {
        return detail::isLeftoverOf(n, fileName, Qt::CaseInsensitive);
    });

    // A fresh access list, never the old file's (which may shut its owner out): a file with a
    // password in it is the user's alone from its creation on, the others the folder's as well.
    const bool restricted = permissions && ownerOnly(*permissions);
    FreshAccess access(restricted);
    if (!access.valid()) {
        reason = cannotWrite(path, GetLastError());
        return false;
    }
    std::wstring temp;
    HANDLE raw = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && raw == INVALID_HANDLE_VALUE; ++attempt) {
        temp = wide(detail::temporaryPath(folder, fileName));
        raw = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, access.attributes(), CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (raw == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (raw == INVALID_HANDLE_VALUE) {
        reason = cannotWrite(path, GetLastError());
        return false;
    }
    Handle file(raw);
    auto fail = [&](DWORD error) {
        if (file.valid())
            file.close();
        DeleteFileW(temp.c_str());
        reason = cannotWrite(path, error);
        return false;
    };
    if (!writeAll(file.get(), bytes) || !FlushFileBuffers(file.get()))
        return fail(GetLastError());
    if (!file.close())
        return fail(GetLastError());

    // Something put at the path meanwhile is not replaced either.
    const DWORD now = GetFileAttributesW(name.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & kNotPlain)) {
        DeleteFileW(temp.c_str());
        return refuseWhatIsThere(now);
    }
    // A rename over the old file: readers see the old bytes or the new, never none.
    if (!MoveFileExW(temp.c_str(), name.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(GetLastError());
    return true;
}

void removeLeftovers(const QString& folder) {
    removeIn(folder, [](const QString&) { return true; });
}

} // namespace SafeFile
