#include "ChildProcess.h"

#include <QProcess>
#include <csignal>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace ChildProcess {

void tieToProgram([[maybe_unused]] QProcess& process) {
#ifdef Q_OS_LINUX
    // It dies with the program, however the program ends.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
    });
#endif
}

void started(QProcess&) {}

void kill(qint64 pid) {
    ::kill(pid_t(pid), SIGKILL);
}

void useBinaryStandardStreams() {}

} // namespace ChildProcess
