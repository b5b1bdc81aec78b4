#include "DeviceShape.h"

#include <QGuiApplication>
#include <QRegion>
#include <QWidget>
#include <QtMath>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

bool useAlphaChannel(QWidget* window) {
    if (!x11Connection())
        return false;
    // An ARGB visual: compositors (and XWayland's Wayland compositor) draw the window by its
    // alpha, some of them ignoring its X shape.
    window->setAttribute(Qt::WA_TranslucentBackground);
    return true;
}

bool setDeviceShape(QWidget* window, const QRegion& deviceRegion) {
    xcb_connection_t* c = x11Connection();
    if (!c)
        return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present)
        return false;
    const auto id = xcb_window_t(window->winId());
    // The outline's scan reaches past the picture; a shape beyond the window would tell the
    // window system that the window covers more than it does.
    const qreal ratio = window->devicePixelRatioF();
    const QRegion inside = deviceRegion & QRect(0, 0, qCeil(window->width() * ratio - 1e-9),
                                                qCeil(window->height() * ratio - 1e-9));
    // Clicks beside the figure go to the window beneath, also where a compositor decides who
    // gets them by the input shape alone.
    for (const xcb_shape_kind_t kind : {XCB_SHAPE_SK_BOUNDING, XCB_SHAPE_SK_INPUT}) {
        if (deviceRegion.isEmpty()) {
            xcb_shape_mask(c, XCB_SHAPE_SO_SET, kind, id, 0, 0, XCB_NONE);
            continue;
        }
        std::vector<xcb_rectangle_t> rects;
        rects.reserve(size_t(inside.rectCount()));
        for (const QRect& r : inside)
            rects.push_back(
                {int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0,
                             uint32_t(rects.size()), rects.data());
    }
    xcb_flush(c);
    return true;
}
