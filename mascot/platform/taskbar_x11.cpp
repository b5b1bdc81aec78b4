#include "TaskbarHint.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    auto cookie = xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t a = reply->atom;
    free(reply);
    return a;
}

} // namespace

void keepOutOfTaskbar(QWidget* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* c = x11->connection();
    // Qt keeps the states it does not manage itself when it maps the window.
    const xcb_atom_t states[] = {atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(c, XCB_PROP_MODE_APPEND, xcb_window_t(window->winId()), atom(c, "_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(c);
}
