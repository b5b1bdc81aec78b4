#pragma once
// Window-manager matters of the character windows. Keeps a window out of the taskbar. Qt's tool
// windows are enough on some platforms; on X11 the window also has to say so in _NET_WM_STATE.

class QPoint;
class QWidget;

// Call after every show: the window manager forgets it when the window is hidden.
void keepOutOfTaskbar(QWidget* window);

// The window's top-left corner on the screen as the display system has it, when it can tell, in
// logical pixels as Qt gives positions.
bool windowPositionOnScreen(const QWidget* window, QPoint* position);
