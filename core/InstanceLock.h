#pragma once
// The single-instance lock. On Linux (InstanceLock_posix.cpp) a file in the runtime folder that the
// kernel keeps locked for the process that took it, and frees when that process ends, however it
// ends. Whether the lock is held is asked of the kernel, never read from the file, so no contents
// (empty, garbage, the number of a dead or unrelated process, another host's name) can make a start
// refuse; a non-regular file at the path (a FIFO, a link) is replaced, a folder makes the lock
// unavailable. On Windows (InstanceLock_win.cpp) a named mutex of the user's session, named after
// the path, which the system lets go of when the process that holds it ends.

#include <QString>
#include <QtGlobal>

class InstanceLock {
  public:
    enum class Result {
        Taken,         // this process holds the lock until it ends (or this object goes)
        HeldElsewhere, // a running process holds it
        Unavailable,   // no lock can be made here (no folder, a folder in the way, not ours)
    };

    explicit InstanceLock(QString path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Result tryLock();

  private:
    QString m_path;
    qintptr m_handle = -1; // the file descriptor, or the mutex's handle on Windows
};
