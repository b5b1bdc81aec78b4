#pragma once
// WAV files made by the tests: a sine tone as 16-bit PCM, written by hand so that the decoder
// under test is not also the encoder.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>
#include <QtEndian>
#include <cmath>

namespace wav {

inline QVector<qint16> tone(qint64 frames, int channels, int rate, double hz, double amplitude) {
    QVector<qint16> samples;
    samples.reserve(frames * channels);
    for (qint64 i = 0; i < frames; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * double(i) / rate);
        for (int c = 0; c < channels; ++c)
            samples.append(qint16(std::lround(v)));
    }
    return samples;
}

inline QByteArray pcm16(const QVector<qint16>& samples, int channels, int rate) {
    auto u32 = [](QByteArray& b, quint32 v) {
        char le[4];
        qToLittleEndian(v, le);
        b.append(le, 4);
    };
    auto u16 = [](QByteArray& b, quint16 v) {
        char le[2];
        qToLittleEndian(v, le);
        b.append(le, 2);
    };
    const quint32 dataBytes = quint32(samples.size() * 2);
    QByteArray b;
    b.append("RIFF");
    u32(b, 36 + dataBytes);
    b.append("WAVEfmt ");
    u32(b, 16);
    u16(b, 1); // PCM
    u16(b, quint16(channels));
    u32(b, quint32(rate));
    u32(b, quint32(rate * channels * 2));
    u16(b, quint16(channels * 2));
    u16(b, 16);
    b.append("data");
    u32(b, dataBytes);
    for (qint16 s : samples)
        u16(b, quint16(s));
    return b;
}

inline QByteArray toneWav(int ms, int channels = 1, int rate = 44100, double hz = 1000.0,
                          double amplitude = 0.5) {
    return pcm16(tone(qint64(rate) * ms / 1000, channels, rate, hz, amplitude), channels, rate);
}

// A mono 16-bit WAV of exactly totalBytes (header included); totalBytes - 44 must be even.
inline QByteArray wavOfSize(qint64 totalBytes) {
    return pcm16(tone((totalBytes - 44) / 2, 1, 44100, 440.0, 0.3), 1, 44100);
}

// Little-endian fields and RIFF chunks, for files of any format and any fault.
inline QByteArray le(quint64 v, int bytes) {
    QByteArray b;
    for (int i = 0; i < bytes; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

// A chunk; size, when given, is what the header declares instead of the body's length.
inline QByteArray chunk(const char* id, const QByteArray& body, qint64 size = -1) {
    QByteArray b = QByteArray(id, 4) + le(quint64(size < 0 ? body.size() : size), 4) + body;
    if (body.size() % 2)
        b.append('\0');
    return b;
}

inline QByteArray riff(const QByteArray& chunks) {
    return "RIFF" + le(quint64(4 + chunks.size()), 4) + "WAVE" + chunks;
}

inline QByteArray fmt(quint16 tag, int channels, int rate, int blockAlign, int bits,
                      const QByteArray& extra = QByteArray()) {
    return chunk("fmt ", le(tag, 2) + le(quint64(channels), 2) + le(quint64(rate), 4) +
                             le(quint64(rate * blockAlign), 4) + le(quint64(blockAlign), 2) +
                             le(quint64(bits), 2) + extra);
}

inline bool write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace wav
