#include "Cp932.h"

namespace Cp932 {

bool isLeadByte(char b) {
    const auto u = static_cast<unsigned char>(b);
    return (u >= 0x81 && u <= 0x9F) || (u >= 0xE0 && u <= 0xFC);
}

QByteArray cutAtCharBoundary(const QByteArray& bytes, qsizetype maxBytes) {
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype i = 0;
    while (i < maxBytes) {
        const qsizetype step = isLeadByte(bytes.at(i)) && i + 1 < bytes.size() ? 2 : 1;
        if (i + step > maxBytes)
            break;
        i += step;
    }
    return bytes.left(i);
}

} // namespace Cp932
