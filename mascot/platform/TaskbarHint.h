#pragma once
// Keeps a window out of the taskbar. Qt's tool windows are enough on some platforms; on X11 the
// window also has to say so in _NET_WM_STATE.

class QWidget;

// Call before the window is first shown.
void keepOutOfTaskbar(QWidget* window);
