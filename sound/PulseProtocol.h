#pragma once
// The sound server's native protocol (PulseAudio, and PipeWire's server for its clients), as much
// of it as one playback stream needs: packets, the typed fields of a command, the server's address
// and the cookie. The server's own client library would bring its codec library along, and once
// loaded it stays for the program's life; this is a few kilobytes that leave with the module.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace PulseProtocol {

// Version 13 has the property lists; later versions add nothing one stream needs.
constexpr quint32 Version = 13;
constexpr quint32 VersionMask = 0x0000FFFF;

enum Command : quint32 {
    Error = 0,
    Reply = 2,
    CreatePlaybackStream = 3,
    DeletePlaybackStream = 4,
    Auth = 8,
    SetClientName = 9,
    DrainPlaybackStream = 12,
    TriggerPlaybackStream = 43,
    Request = 61,
    PlaybackStreamKilled = 64,
};

// Commands travel on this channel; a stream's samples on the stream's own.
constexpr quint32 CommandChannel = 0xFFFFFFFF;
constexpr int DescriptorBytes = 20;
// Far above any answer to what we send; a larger packet ends the connection.
constexpr quint32 MaxPacketBytes = 1 << 20;
constexpr int CookieBytes = 256;
// 16-bit little-endian samples.
constexpr quint8 SampleS16LE = 3;
constexpr quint32 VolumeNormal = 0x10000;
constexpr int MaxChannels = 32;
constexpr quint32 MaxRate = 384000;

// The typed fields of a command, in the order the server reads them.
class Fields {
  public:
    Fields& u32(quint32 value);
    Fields& boolean(bool value);
    Fields& string(const QByteArray& value);
    Fields& nullString();
    Fields& arbitrary(const QByteArray& value);
    Fields& sampleSpec(quint8 format, quint8 channels, quint32 rate);
    Fields& channelMap(const QByteArray& positions);
    Fields& volume(int channels, quint32 level);
    Fields& properties(const QList<std::pair<QByteArray, QByteArray>>& textProperties);

    const QByteArray& bytes() const { return m_bytes; }

  private:
    QByteArray m_bytes;
};

// Reads fields off a received command; after any field of another type, or past the end, every
// read fails.
class FieldReader {
  public:
    explicit FieldReader(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    bool u32(quint32* value);

  private:
    QByteArray m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

// A whole packet: the descriptor, then the payload.
QByteArray packet(quint32 channel, const QByteArray& payload);
QByteArray command(Command cmd, quint32 tag, const Fields& fields = {});

// The payload length and channel from a packet's descriptor.
struct Descriptor {
    quint32 length = 0;
    quint32 channel = 0;
};
Descriptor readDescriptor(const char* bytes);

// The channel positions of WAVE files' channel order, for that many channels.
QByteArray waveChannelMap(int channels);

// The sockets to try, in order: the server the environment names (PULSE_SERVER, local sockets
// only), else the user's and the system's. serverVariable: that variable's value.
QStringList serverSockets(const QString& serverVariable, const QString& runtimePath,
                          const QString& xdgRuntimeDir);

// The cookie the server may ask for, from the first of the files that holds one; zeros when none
// does (the server also knows its own user by the socket's credentials).
QByteArray cookie(const QStringList& files);

} // namespace PulseProtocol
