#pragma once
// What the three settings dialogs share: a fixed single border (title bar with close box, not
// resizable), the program icon, controls placed by their twips rectangles, coloured text.

#include <QColor>
#include <QString>
#include <QtGlobal>

class QWidget;
class ProgramWindow;

namespace DialogLook {

// Caption, border, icon and the fixed client size in twips.
void setUpDialog(ProgramWindow* window, const QString& caption, float clientWidth,
                 float clientHeight);

// Puts a control at its rectangle in twips, relative to the client area.
void place(QWidget* control, float left, float top, float width, float height);

// Widens and heightens a label or a captioned check box to what its text needs in the font at
// hand (the CJK fonts here are taller and wider than the Windows version's), never beyond the
// client area, so that no caption is cut off.
void fitText(QWidget* control);

// Text colour.
void setTextColour(QWidget* control, const QColor& colour);

// Background colour of a button or a check box; a button shows it flat on its whole
// face.
void setBackColour(QWidget* control, const QColor& colour);

} // namespace DialogLook
