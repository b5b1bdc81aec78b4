#include "DeviceShape.h"

#include <QGuiApplication>
#include <QRegion>
#include <QWidget>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>

bool setDeviceShape(QWidget* window, const QRegion& deviceRegion) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* c = x11->connection();
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present)
        return false;
    const auto id = xcb_window_t(window->winId());
    if (deviceRegion.isEmpty()) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, id, 0, 0, XCB_NONE);
    } else {
        std::vector<xcb_rectangle_t> rects;
        rects.reserve(size_t(deviceRegion.rectCount()));
        for (const QRect& r : deviceRegion)
            rects.push_back(
                {int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                             id, 0, 0, uint32_t(rects.size()), rects.data());
    }
    xcb_flush(c);
    return true;
}
