#include "MailFrames.h"

namespace MailFrames {

QDataStream& setUp(QDataStream& stream) {
    stream.setVersion(QDataStream::Qt_6_0);
    return stream;
}

QByteArray withLength(const QByteArray& payload) {
    const quint32 size = quint32(payload.size());
    const char length[4] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return QByteArray(length, 4) + payload;
}

quint32 announcedLength(const QByteArray& buffer) {
    const auto* b = reinterpret_cast<const uchar*>(buffer.constData());
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
}

std::optional<QByteArray> take(QByteArray& buffer, bool& tooLarge) {
    tooLarge = false;
    if (buffer.size() < 4)
        return std::nullopt;
    const quint32 size = announcedLength(buffer);
    if (size > quint32(kMaxFrameBytes)) {
        tooLarge = true;
        return std::nullopt;
    }
    if (buffer.size() < 4 + qsizetype(size))
        return std::nullopt;
    QByteArray payload = buffer.mid(4, size);
    buffer.remove(0, 4 + size);
    return payload;
}

void writeList(QDataStream& out, const QStringList& list) {
    out << quint32(list.size());
    for (const QString& item : list)
        out << item;
}

bool readList(QDataStream& in, QStringList& list) {
    quint32 count = 0;
    in >> count;
    list.clear();
    // Each item takes at least its 4-byte length.
    if (in.status() != QDataStream::Ok || count > quint32(kMaxFrameBytes / 4))
        return false;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString item;
        in >> item;
        list.append(item);
    }
    return in.status() == QDataStream::Ok;
}

} // namespace MailFrames
