#pragma once
// Process-level services: the single-instance test and the immediate end.

#include <QString>

namespace Program {

// True when another instance of this program runs for this user. The first call takes a lock
// that this process holds until it ends; a killed process does not leave it held, and whatever
// the lock file holds never blocks a start (InstanceLock.h).
bool anotherInstanceRunning();

// Ends the process at once: no unload handler, no saving, no clean-up. What must not outlive the
// program is ended by the caller first (the program's root hands the characters its end).
[[noreturn]] void endAtOnce();

// The folder of the executable, without a trailing separator.
QString folder();
// Tests point the program folder at a temporary one; an empty path restores the real folder.
void setFolder(const QString& path);

} // namespace Program
