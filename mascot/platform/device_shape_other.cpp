#include "DeviceShape.h"

bool useAlphaChannel(QWidget*) {
    return false;
}

bool setDeviceShape(QWidget*, const QRegion&) {
    return false;
}
