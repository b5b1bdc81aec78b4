#include "TaskbarHint.h"

#include <QGuiApplication>
#include <QPoint>
#include <QScreen>
#include <QWidget>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t a = reply->atom;
    free(reply);
    return a;
}

} // namespace

void keepOutOfTaskbar(QWidget* window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || !window->isVisible())
        return;
    xcb_connection_t* c = x11->connection();
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return;
    // A mapped window asks the window manager, as the window-manager hints prescribe; writing the
    // property before the map confuses some managers about the window's position.
    xcb_client_message_event_t ev = {};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(window->winId());
    ev.type = atom(c, "_NET_WM_STATE");
    ev.data.data32[0] = 1; // add
    ev.data.data32[1] = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    ev.data.data32[2] = atom(c, "_NET_WM_STATE_SKIP_PAGER");
    ev.data.data32[3] = 1; // from an application
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
}

bool windowPositionOnScreen(const QWidget* window, QPoint* position) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* c = x11->connection();
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return false;
    auto cookie = xcb_translate_coordinates(c, xcb_window_t(window->winId()), screen->root, 0, 0);
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(c, cookie, nullptr);
    if (!reply)
        return false;
    const QPoint native(reply->dst_x, reply->dst_y);
    free(reply);
    // In Qt's logical pixels, mapped as Qt maps the window: from its screen's top-left corner.
    const QScreen* s = window->screen();
    const qreal ratio = s ? s->devicePixelRatio() : 1.0;
    const QPoint origin = s ? s->geometry().topLeft() : QPoint();
    *position = ratio == 1.0 ? native : origin + (native - origin) / ratio;
    return true;
}
