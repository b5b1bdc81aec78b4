#include "DesktopFont.h"

namespace DesktopFont {

void chooseFamily(QFont&) {}

} // namespace DesktopFont
