#include "SafeFile.h"
#include "SafeFileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {
namespace {

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now, so that an error of the close itself is seen.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

QString native(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Contents refused(QString why) {
    return {Found::Refused, QByteArray(), std::move(why)};
}

QString notRegularForRead(const QString& path) {
    return QStringLiteral("%1 は通常のファイルではないため、読み込みません。").arg(native(path));
}

QString tooLarge(const QString& path, qint64 cap) {
    return QStringLiteral("%1 は大きすぎるため、読み込みません（上限 %2 バイト）。")
        .arg(native(path))
        .arg(cap);
}

bool isMissing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

mode_t toMode(QFileDevice::Permissions p) {
    mode_t m = 0;
    m |= p & QFileDevice::ReadOwner ? S_IRUSR : 0;
    m |= p & QFileDevice::WriteOwner ? S_IWUSR : 0;
    m |= p & QFileDevice::ExeOwner ? S_IXUSR : 0;
    m |= p & QFileDevice::ReadGroup ? S_IRGRP : 0;
    m |= p & QFileDevice::WriteGroup ? S_IWGRP : 0;
    m |= p & QFileDevice::ExeGroup ? S_IXGRP : 0;
    m |= p & QFileDevice::ReadOther ? S_IROTH : 0;
    m |= p & QFileDevice::WriteOther ? S_IWOTH : 0;
    m |= p & QFileDevice::ExeOther ? S_IXOTH : 0;
    return m;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Removes the leftovers in folder whose name passes the filter; never follows a link.
template <typename Filter> void removeIn(const QString& folder, Filter keep) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    const int dfd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (!isLeftoverName(name) || !keep(name))
            continue;
        struct stat st;
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

Contents readRegularFile(const QString& path, qint64 cap) {
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return {};
    // Looked at before opening: opening a FIFO blocks and opening a device can do things.
    struct stat st;
    if (::stat(name.constData(), &st) != 0) {
        if (isMissing(errno))
            return {};
        return refused(
            QStringLiteral("%1 を読み込めません: %2").arg(native(path), errorText(errno)));
    }
    if (!S_ISREG(st.st_mode))
        return refused(notRegularForRead(path));
    if (st.st_size > cap)
        return refused(tooLarge(path, cap));

    // O_NONBLOCK: should the path be swapped for a FIFO after the look, the open still returns.
    Fd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (isMissing(errno))
            return {};
        return refused(
            QStringLiteral("%1 を読み込めません: %2").arg(native(path), errorText(errno)));
    }
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return refused(notRegularForRead(path));

    // Read to the end rather than trusting the size: the file may grow meanwhile.
    QByteArray bytes;
    bytes.resize(qsizetype(qMin<qint64>(st.st_size, cap)) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > cap)
                return refused(tooLarge(path, cap));
            bytes.resize(qsizetype(qMin<qint64>(cap + 1, qint64(used) * 2 + 4096)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refused(
                QStringLiteral("%1 を読み込めません: %2").arg(native(path), errorText(errno)));
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
    const QByteArray name = QFile::encodeName(path);
    auto refuseWhatIsThere = [&](const struct stat& st) {
        reason = S_ISLNK(st.st_mode)
                     ? QStringLiteral("%1 はシンボリックリンクのため、書き込みません。")
                           .arg(native(path))
                     : QStringLiteral("%1 は通常のファイルではないため、書き込みません。")
                           .arg(native(path));
        return false;
    };

    // The path itself is looked at, not what a link there points to.
    struct stat st;
    bool exists = ::lstat(name.constData(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return refuseWhatIsThere(st);
    if (!exists && errno != ENOENT) {
        reason = QStringLiteral("%1 に書き込めません: %2").arg(native(path), errorText(errno));
        return false;
    }

    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString fileName = info.fileName();
    removeIn(folder, [&](const QString& n) {
        return detail::isLeftoverOf(n, fileName, Qt::CaseSensitive);
    });

    // Owner-only until the wanted permissions are known to allow more; a new file without
    // permissions given gets the usual ones (the umask applies). An old file its owner could not
    // read and write gives no mode to keep: the next start could not read the new one either.
    const bool keepMode = exists && (st.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR);
    const bool setMode = permissions || keepMode;
    const mode_t wanted = permissions ? toMode(*permissions) : keepMode ? (st.st_mode & 0777) : 0;
    const mode_t createMode = permissions ? wanted : keepMode ? 0600 : 0666;
    QByteArray temp;
    int rawFd = -1;
    for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
        temp = QFile::encodeName(detail::temporaryPath(folder, fileName));
        rawFd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       createMode);
        if (rawFd < 0 && errno != EEXIST)
            break;
    }
    if (rawFd < 0) {
        reason = QStringLiteral("%1 に書き込めません: %2").arg(native(path), errorText(errno));
        return false;
    }
    Fd fd(rawFd);
    auto fail = [&](int error) {
        ::unlink(temp.constData());
        reason = QStringLiteral("%1 に書き込めません: %2").arg(native(path), errorText(error));
        return false;
    };

    // Before the first byte: the umask may have taken bits the file must have.
    struct stat made;
    if (setMode && (::fstat(fd.get(), &made) != 0 ||
                    ((made.st_mode & 0777) != wanted && ::fchmod(fd.get(), wanted) != 0)))
        return fail(errno);
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        return fail(errno);
    if (!fd.close())
        return fail(errno);

    // Something put at the path meanwhile is not replaced either.
    if (::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        ::unlink(temp.constData());
        return refuseWhatIsThere(st);
    }
    if (::rename(temp.constData(), name.constData()) != 0)
        return fail(errno);
    return true;
}

void removeLeftovers(const QString& folder) {
    removeIn(folder, [](const QString&) { return true; });
}

} // namespace SafeFile
