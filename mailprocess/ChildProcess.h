#pragma once
// The mail process's life beside the program, one file per platform: ChildProcess_posix.cpp
// (the kernel kills the child when its parent dies) and ChildProcess_win.cpp (a job object that
// kills its processes when the program's handle to it closes, which the end of the program does
// however it ends). The process also ends by itself when its standard input ends.

#include <QtGlobal>

class QProcess;

namespace ChildProcess {

// Before the start: the process dies with the program. The thread that starts it must live as
// long as the program.
void tieToProgram(QProcess& process);
// After the start.
void started(QProcess& process);
// Ends the process at once; callable from any thread.
void kill(qint64 pid);
// In the mail process: its standard input and output carry bytes, not text.
void useBinaryStandardStreams();

} // namespace ChildProcess
