#include "PulseProtocol.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace PulseProtocol {

namespace {

enum Tag : char {
    TagU32 = 'L',
    TagTrue = '1',
    TagFalse = '0',
    TagString = 't',
    TagNullString = 'N',
    TagArbitrary = 'x',
    TagSampleSpec = 'a',
    TagChannelMap = 'm',
    TagVolume = 'v',
    TagProperties = 'P',
};

void appendU32(QByteArray& bytes, quint32 value) {
    char be[4];
    qToBigEndian(value, be);
    bytes.append(be, 4);
}

} // namespace

Fields& Fields::u32(quint32 value) {
    m_bytes.append(TagU32);
    appendU32(m_bytes, value);
    return *this;
}

Fields& Fields::boolean(bool value) {
    m_bytes.append(value ? TagTrue : TagFalse);
    return *this;
}

Fields& Fields::string(const QByteArray& value) {
    m_bytes.append(TagString);
    m_bytes.append(value);
    m_bytes.append('\0');
    return *this;
}

Fields& Fields::nullString() {
    m_bytes.append(TagNullString);
    return *this;
}

Fields& Fields::arbitrary(const QByteArray& value) {
    m_bytes.append(TagArbitrary);
    appendU32(m_bytes, quint32(value.size()));
    m_bytes.append(value);
    return *this;
}

Fields& Fields::sampleSpec(quint8 format, quint8 channels, quint32 rate) {
    m_bytes.append(TagSampleSpec);
    m_bytes.append(char(format));
    m_bytes.append(char(channels));
    appendU32(m_bytes, rate);
    return *this;
}

Fields& Fields::channelMap(const QByteArray& positions) {
    m_bytes.append(TagChannelMap);
    m_bytes.append(char(positions.size()));
    m_bytes.append(positions);
    return *this;
}

Fields& Fields::volume(int channels, quint32 level) {
    m_bytes.append(TagVolume);
    m_bytes.append(char(channels));
    for (int i = 0; i < channels; ++i)
        appendU32(m_bytes, level);
    return *this;
}

Fields& Fields::properties(const QList<std::pair<QByteArray, QByteArray>>& textProperties) {
    m_bytes.append(TagProperties);
    for (const auto& [key, text] : textProperties) {
        // A text value goes with its terminating zero.
        const QByteArray value = text + '\0';
        string(key);
        u32(quint32(value.size()));
        arbitrary(value);
    }
    return nullString();
}

bool FieldReader::u32(quint32* value) {
    m_ok = m_ok && m_at + 5 <= m_bytes.size() && m_bytes.at(m_at) == TagU32;
    if (!m_ok)
        return false;
    *value = qFromBigEndian<quint32>(m_bytes.constData() + m_at + 1);
    m_at += 5;
    return true;
}

QByteArray packet(quint32 channel, const QByteArray& payload) {
    QByteArray bytes;
    bytes.reserve(DescriptorBytes + payload.size());
    appendU32(bytes, quint32(payload.size()));
    appendU32(bytes, channel);
    // Seek offset (high, low) and flags: none, the samples follow the ones before.
    appendU32(bytes, 0);
    appendU32(bytes, 0);
    appendU32(bytes, 0);
    bytes.append(payload);
    return bytes;
}

QByteArray command(Command cmd, quint32 tag, const Fields& fields) {
    Fields head;
    head.u32(cmd).u32(tag);
    return packet(CommandChannel, head.bytes() + fields.bytes());
}

Descriptor readDescriptor(const char* bytes) {
    return {qFromBigEndian<quint32>(bytes), qFromBigEndian<quint32>(bytes + 4)};
}

QByteArray waveChannelMap(int channels) {
    if (channels == 1)
        return QByteArray(1, '\0'); // mono
    // Front left, right, centre, LFE, rear left, right, front left and right of centre, rear
    // centre, side left, right, top centre, top front left, centre, right, top rear left, centre,
    // right; auxiliary channels after those.
    static const char wave[] = {1, 2, 3, 7, 5, 6, 8, 9, 4, 10, 11, 44, 45, 47, 46, 48, 50, 49};
    QByteArray map;
    for (int i = 0; i < channels; ++i)
        map.append(i < int(sizeof wave) ? wave[i] : char(12 + i - int(sizeof wave)));
    return map;
}

QStringList serverSockets(const QString& serverVariable, const QString& runtimePath,
                          const QString& xdgRuntimeDir) {
    QStringList sockets;
    if (!serverVariable.isEmpty()) {
        // A list of addresses, each maybe behind a {machine id}; only local sockets are taken.
        for (QString address : serverVariable.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (address.startsWith(QLatin1Char('{')))
                address = address.mid(address.indexOf(QLatin1Char('}')) + 1);
            if (address.startsWith(QLatin1String("unix:")))
                address = address.mid(5);
            if (address.startsWith(QLatin1Char('/')))
                sockets << address;
        }
        return sockets;
    }
    if (!runtimePath.isEmpty())
        sockets << runtimePath + QLatin1String("/native");
    if (!xdgRuntimeDir.isEmpty())
        sockets << xdgRuntimeDir + QLatin1String("/pulse/native");
    sockets << QStringLiteral("/var/run/pulse/native");
    sockets.removeDuplicates();
    return sockets;
}

QByteArray cookie(const QStringList& files) {
    for (const QString& path : files) {
        // Only a plain file: a pipe put in its place would never end.
        if (path.isEmpty() || !QFileInfo(path).isFile())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.read(CookieBytes + 1);
        if (bytes.size() == CookieBytes)
            return bytes;
    }
    return QByteArray(CookieBytes, '\0');
}

} // namespace PulseProtocol
