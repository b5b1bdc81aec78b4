#pragma once
// Where this program's files are.
//
// A copy that keeps its files beside the executable (a folder its user unpacked, or the build
// folder) has the sound (Sound/) and the home page (hp/) there, ★MailData beside the executable
// and vbmail.ini in the working folder, as files written on Windows expect.
//
// An installed copy keeps them the way programs on this desktop do: the sound and the home page
// in share/mokopon/ of its installation, ★MailData under $XDG_DATA_HOME/mokopon/ and vbmail.ini
// under $XDG_CONFIG_HOME/mokopon/ (by default ~/.local/share/mokopon/ and ~/.config/mokopon/).
// A copy counts as installed when its user cannot write the executable's folder, or when that
// folder is the bin/ of an installation (share/mokopon/ stands where the install puts it): an
// installation into the user's own prefix has a writable bin/ that is still no place for data.
//
// The files themselves are the same in both: the same names and the same contents.

#include <QString>

namespace ProgramFolders {

bool installed();

// The user's configuration folder ($XDG_CONFIG_HOME, or ~/.config), which other programs share.
QString configBase();

// The folder holding Sound/Kouka.wav and hp/index.html.
QString resources();

// The data folder ★MailData: the account, the hang-up setting and the program's own files.
QString mailData();

// The path of one of the program's own executables or modules (the mail process, the sound
// output): beside the executable (the build folder, an unpacked copy) or else in the installed
// module folder; beside the executable when it is in neither, where loading it fails and says so.
// Never a bare name, which would run whatever PATH finds under it and hand it the password.
QString module(const QString& fileName);

// The folder of vbmail.ini.
QString serverSettings();

// Makes the folders an installed copy keeps its files in, each missing one readable by its owner
// only; a copy that keeps its files beside the executable makes none. False when one could not
// be made (the saves into it then fail and say so).
bool createOwnFolders();

} // namespace ProgramFolders
