#pragma once
// The platform's part of ProgramFolders: where this desktop keeps a user's files of a program, and
// how an installed copy is told from one that keeps its files beside the executable.
// ProgramFolders_xdg.cpp (the XDG base folders) and ProgramFolders_win.cpp (%APPDATA%).

#include <QString>

namespace PlatformFolders {

// The folder of the sound and the home page when the copy is installed; may not exist.
QString installedResources();
// Whether this copy is installed (ProgramFolders.h says when).
bool installed();
// This program's own folders for the data (★MailData's parent) and for vbmail.ini.
QString dataHome();
QString configHome();
// The user's configuration folder that other programs share.
QString configBase();

} // namespace PlatformFolders
