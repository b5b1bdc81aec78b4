#pragma once
// Starting the program when the user logs in. On Linux (StartAtLogin_xdg.cpp) a desktop entry in
// the user's autostart folder ($XDG_CONFIG_HOME/autostart, ~/.config/autostart when that is
// unset), which the desktop's session starts at every login. It runs the executable that wrote
// it, in the working folder it ran in, so that the program finds the same vbmail.ini as when the
// user ticked the box. On Windows (StartAtLogin_win.cpp) the value "Mokopon" of the user's Run
// key, the executable quoted; Windows gives it no working folder.

#include <QByteArray>
#include <QString>

namespace StartAtLogin {

// The autostart entry's path.
QString entryPath();
// Whether an entry is there.
bool isOn();

// The entry for an executable started in workingFolder (on Windows, the Run value); empty when a
// path holds a character that an entry cannot carry (a line break, a control character).
QByteArray desktopEntry(const QString& executable, const QString& workingFolder);

// Writes the entry (creating the autostart folder) or removes it; false with why on failure.
bool turnOn(const QString& executable, const QString& workingFolder, QString* why = nullptr);
bool turnOff(QString* why = nullptr);

} // namespace StartAtLogin
