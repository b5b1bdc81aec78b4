#pragma once
// The family of the program's text. One file per platform: on Linux the desktop's own font,
// whose fallbacks fontconfig chooses (DesktopFont_posix.cpp); on Windows the desktop's message
// font when it has Japanese, otherwise the first Japanese interface font the system has
// (DesktopFont_win.cpp), as a Windows outside Japan, or Wine, gives a Latin one.

#include <QFont>

namespace DesktopFont {

// Sets the family of font, a default font of the desktop's size, where the platform needs it.
void chooseFamily(QFont& font);

} // namespace DesktopFont
