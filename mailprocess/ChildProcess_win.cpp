#include "ChildProcess.h"

#include <QProcess>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace ChildProcess {

namespace {

// The program's one job: its handle is never closed, so the system closes it when the program
// ends, normally, by std::_Exit or killed, and then kills every process in the job.
HANDLE job() {
    static const HANDLE handle = [] {
        HANDLE h = CreateJobObjectW(nullptr, nullptr);
        if (!h)
            return HANDLE(nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(h);
            return HANDLE(nullptr);
        }
        return h;
    }();
    return handle;
}

} // namespace

void tieToProgram(QProcess&) {
    job();
}

void started(QProcess& process) {
    // Should the job be missing, the process still ends when its standard input closes with the
    // program.
    if (const HANDLE h = job()) {
        if (HANDLE p = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE,
                                   DWORD(process.processId()))) {
            AssignProcessToJobObject(h, p);
            CloseHandle(p);
        }
    }
}

void kill(qint64 pid) {
    if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid))) {
        TerminateProcess(h, 1);
        CloseHandle(h);
    }
}

void useBinaryStandardStreams() {
    // The C runtime would turn LF into CR LF and stop at a byte 0x1A.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace ChildProcess
