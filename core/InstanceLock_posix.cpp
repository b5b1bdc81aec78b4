#include "InstanceLock.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceLock::InstanceLock(QString path) : m_path(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (m_handle >= 0)
        ::close(int(m_handle)); // frees the lock; the file stays for the next start
}

InstanceLock::Result InstanceLock::tryLock() {
    if (m_handle >= 0)
        return Result::Taken;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode))
            return Result::Unavailable;
        // Only a regular file can carry the lock; a FIFO here would block an open.
        ::unlink(path.constData());
    }
    const int fd = ::open(path.constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result::Unavailable;
    // A file of another user (in a shared temporary folder) could be held against us forever.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Result::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    // The process number is for people looking; the lock does not depend on it.
    if (::ftruncate(fd, 0) == 0)
        ::dprintf(fd, "%ld\n", long(::getpid()));
    m_handle = fd;
    return Result::Taken;
}
