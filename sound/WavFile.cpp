#include "WavFile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A file of many tiny chunks before its data is not worth reading to the end.
constexpr int MaxChunks = 1024;
// The format chunk is read up to this much: enough for any coefficient table of ours.
constexpr qint64 MaxFormatBytes = 4096;
// PCM is converted through a buffer of about this many bytes at a time.
constexpr qint64 ScratchBytes = 65536;

enum : quint16 {
    TagPcm = 0x0001,
    TagMsAdpcm = 0x0002,
    TagFloat = 0x0003,
    TagALaw = 0x0006,
    TagMuLaw = 0x0007,
    TagImaAdpcm = 0x0011,
    TagExtensible = 0xFFFE,
};

quint16 le16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}

quint32 le32(const uchar* p) {
    return qFromLittleEndian<quint32>(p);
}

qint16 clamp16(qint64 v) {
    return qint16(std::clamp<qint64>(v, -32768, 32767));
}

qint16 fromFloat(double v) {
    if (std::isnan(v))
        return 0;
    return clamp16(std::llround(std::clamp(v, -2.0, 2.0) * 32767.0));
}

qint16 fromMuLaw(uchar u) {
    u = ~u;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return qint16((u & 0x80) ? 0x84 - t : t - 0x84);
}

qint16 fromALaw(uchar a) {
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return qint16((a & 0x80) ? t : -t);
}

constexpr int ImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int ImaIndexStep[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaState {
    int predictor;
    int index;
    qint16 next(int nibble) {
        const int step = ImaSteps[index];
        int diff = step >> 3;
        if (nibble & 4)
            diff += step;
        if (nibble & 2)
            diff += step >> 1;
        if (nibble & 1)
            diff += step >> 2;
        predictor = std::clamp(nibble & 8 ? predictor - diff : predictor + diff, -32768, 32767);
        index = std::clamp(index + ImaIndexStep[nibble & 7], 0, 88);
        return qint16(predictor);
    }
};

constexpr int MsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                             768, 614, 512, 409, 307, 230, 230, 230};
constexpr qint16 MsStandardCoefs[14] = {256, 0,   512, -256, 0,    0,   192,
                                        64,  240, 0,   460,  -208, 392, -232};

// The GUID of an extensible header's sub-format after its first two bytes, the format tag.
constexpr uchar ExtensibleTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

WavFile::~WavFile() = default;

std::unique_ptr<WavFile> WavFile::openFile(const QString& path) {
    // Only a plain file: opening a pipe would wait for a writer for good.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    // ReadOnly never creates the file.
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return open(std::move(file));
}

std::unique_ptr<WavFile> WavFile::openMemory(const QByteArray& bytes) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return open(std::move(buffer));
}

std::unique_ptr<WavFile> WavFile::open(std::unique_ptr<QIODevice> io) {
    std::unique_ptr<WavFile> wav(new WavFile);
    wav->m_io = std::move(io);
    if (!wav->readHeader() || !wav->rewind())
        return nullptr;
    return wav;
}

bool WavFile::readHeader() {
    const qint64 size = m_io->size();
    uchar head[12];
    if (size < 12 || m_io->read(reinterpret_cast<char*>(head), 12) != 12 ||
        std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;

    bool haveFormat = false;
    bool haveData = false;
    qint64 factFrames = -1;
    qint64 pos = 12;
    for (int chunk = 0; chunk < MaxChunks && pos + 8 <= size && !(haveFormat && haveData);
         ++chunk) {
        uchar h[8];
        if (!m_io->seek(pos) || m_io->read(reinterpret_cast<char*>(h), 8) != 8)
            return false;
        const qint64 body = pos + 8;
        const qint64 length = le32(h + 4);
        if (std::memcmp(h, "fmt ", 4) == 0 && !haveFormat) {
            const QByteArray fmt = m_io->read(std::min(length, MaxFormatBytes));
            if (fmt.size() < std::min(length, MaxFormatBytes) || !readFormat(fmt))
                return false;
            haveFormat = true;
        } else if (std::memcmp(h, "data", 4) == 0 && !haveData) {
            // Data declared longer than the file is played up to where the file ends.
            m_dataStart = body;
            m_dataBytes = std::min(length, size - body);
            haveData = true;
        } else if (std::memcmp(h, "fact", 4) == 0 && length >= 4) {
            uchar n[4];
            if (m_io->read(reinterpret_cast<char*>(n), 4) == 4)
                factFrames = le32(n);
        }
        pos = body + length + (length & 1);
        // Some writers leave out the pad byte after a chunk of odd length.
        if ((length & 1) && !chunkIdAt(pos, size) && chunkIdAt(pos - 1, size))
            --pos;
    }
    if (!haveFormat || !haveData)
        return false;

    if (m_coding == Coding::ImaAdpcm || m_coding == Coding::MsAdpcm) {
        const int header = m_coding == Coding::ImaAdpcm ? 4 * m_channels : 7 * m_channels;
        const qint64 rest = m_dataBytes % m_blockAlign;
        qint64 partial = 0;
        if (rest >= header)
            partial = m_coding == Coding::ImaAdpcm ? 1 + (rest - header) / (4 * m_channels) * 8
                                                   : 2 + (rest - header) * 2 / m_channels;
        m_frames = m_dataBytes / m_blockAlign * m_samplesPerBlock + partial;
        // The last block is padded; the count of frames tells where the sound really ends.
        if (factFrames >= 0)
            m_frames = std::min(m_frames, factFrames);
    } else {
        m_frames = m_dataBytes / (qint64(m_bytesPerSample) * m_channels);
    }
    return true;
}

bool WavFile::chunkIdAt(qint64 pos, qint64 size) {
    char id[4];
    return pos + 8 <= size && m_io->seek(pos) && m_io->read(id, 4) == 4 &&
           std::all_of(id, id + 4, [](char c) { return c >= 0x20 && c <= 0x7E; });
}

bool WavFile::readFormat(const QByteArray& fmt) {
    if (fmt.size() < 14)
        return false;
    const auto* f = reinterpret_cast<const uchar*>(fmt.constData());
    quint16 tag = le16(f);
    m_channels = le16(f + 2);
    const quint32 rate = le32(f + 4);
    m_blockAlign = le16(f + 12);
    const int bits = fmt.size() >= 16 ? le16(f + 14) : 0;
    if (tag == TagExtensible) {
        if (fmt.size() < 40 || std::memcmp(f + 26, ExtensibleTail, sizeof ExtensibleTail) != 0)
            return false;
        tag = le16(f + 24);
    }
    if (m_channels < 1 || m_channels > MaxChannels || rate < 1 || rate > 1000000)
        return false;
    m_rate = int(rate);

    switch (tag) {
    case TagPcm:
        m_coding = Coding::Pcm;
        if (bits < 1 || bits > 32)
            return false;
        m_bytesPerSample = (bits + 7) / 8;
        return true;
    case TagFloat:
        m_coding = Coding::Float;
        m_bytesPerSample = bits / 8;
        return bits == 32 || bits == 64;
    case TagALaw:
    case TagMuLaw:
        m_coding = tag == TagALaw ? Coding::ALaw : Coding::MuLaw;
        m_bytesPerSample = 1;
        return bits == 8;
    case TagImaAdpcm:
        m_coding = Coding::ImaAdpcm;
        // A header per channel, then words of eight samples per channel.
        if (bits != 4 || m_blockAlign < 4 * m_channels || m_blockAlign % (4 * m_channels) != 0)
            return false;
        m_samplesPerBlock = 1 + (m_blockAlign - 4 * m_channels) / (4 * m_channels) * 8;
        return true;
    case TagMsAdpcm: {
        m_coding = Coding::MsAdpcm;
        if (bits != 4 || m_blockAlign < 7 * m_channels)
            return false;
        m_samplesPerBlock = 2 + (m_blockAlign - 7 * m_channels) * 2 / m_channels;
        const int count = fmt.size() >= 22 ? le16(f + 20) : 0;
        const int stored = std::min<int>(count, (fmt.size() - 22) / 4);
        if (count > 0 && stored == count) {
            m_coefs.resize(2 * count);
            for (int i = 0; i < 2 * count; ++i)
                m_coefs[i] = qint16(le16(f + 22 + 2 * i));
        } else {
            m_coefs = QVector<qint16>(std::begin(MsStandardCoefs), std::end(MsStandardCoefs));
        }
        return true;
    }
    default:
        return false;
    }
}

// Rounded up: waits on the sound must not end before its last sample.
qint64 WavFile::durationMs() const {
    return (m_frames * 1000 + m_rate - 1) / m_rate;
}

bool WavFile::rewind() {
    m_framesRead = 0;
    m_blocksRead = 0;
    m_decoded.clear();
    m_decodedPos = 0;
    return m_io->seek(m_dataStart);
}

qint64 WavFile::readFrames(qint16* out, qint64 count) {
    count = std::min(count, m_frames - m_framesRead);
    qint64 done = 0;
    if (m_coding == Coding::ImaAdpcm || m_coding == Coding::MsAdpcm) {
        while (done < count) {
            qint64 have = m_decoded.size() / m_channels - m_decodedPos;
            if (have <= 0) {
                have = readBlock();
                if (have <= 0)
                    break;
            }
            const qint64 n = std::min(have, count - done);
            std::copy_n(m_decoded.constData() + m_decodedPos * m_channels, n * m_channels,
                        out + done * m_channels);
            m_decodedPos += n;
            done += n;
        }
    } else {
        const qint64 frameBytes = qint64(m_bytesPerSample) * m_channels;
        const qint64 step = std::max<qint64>(1, ScratchBytes / frameBytes);
        while (done < count) {
            const qint64 want = std::min(step, count - done);
            m_scratch.resize(want * frameBytes);
            const qint64 got = std::max<qint64>(0, m_io->read(m_scratch.data(), want * frameBytes));
            const qint64 n = got / frameBytes;
            convert(reinterpret_cast<const uchar*>(m_scratch.constData()), out + done * m_channels,
                    n * m_channels);
            done += n;
            if (n < want)
                break;
        }
    }
    m_framesRead += done;
    // A file that shrank under us ends where it now ends.
    if (done < count)
        m_frames = m_framesRead;
    return done;
}

void WavFile::convert(const uchar* in, qint16* out, qint64 samples) const {
    for (qint64 i = 0; i < samples; ++i, in += m_bytesPerSample) {
        switch (m_coding) {
        case Coding::Pcm:
            // Wider samples keep their top 16 bits; 8-bit samples are unsigned.
            switch (m_bytesPerSample) {
            case 1:
                out[i] = qint16((int(in[0]) - 128) * 256);
                break;
            case 2:
                out[i] = qint16(le16(in));
                break;
            case 3:
                out[i] = qint16(le16(in + 1));
                break;
            default:
                out[i] = qint16(le16(in + 2));
                break;
            }
            break;
        case Coding::Float:
            if (m_bytesPerSample == 4) {
                const quint32 raw = le32(in);
                float v;
                std::memcpy(&v, &raw, 4);
                out[i] = fromFloat(v);
            } else {
                const quint64 raw = qFromLittleEndian<quint64>(in);
                double v;
                std::memcpy(&v, &raw, 8);
                out[i] = fromFloat(v);
            }
            break;
        case Coding::MuLaw:
            out[i] = fromMuLaw(in[0]);
            break;
        case Coding::ALaw:
            out[i] = fromALaw(in[0]);
            break;
        default:
            out[i] = 0;
            break;
        }
    }
}

qint64 WavFile::readBlock() {
    const qint64 left = m_dataBytes - m_blocksRead * m_blockAlign;
    const qint64 want = std::min<qint64>(m_blockAlign, left);
    m_decoded.clear();
    m_decodedPos = 0;
    if (want <= 0)
        return 0;
    m_scratch.resize(want);
    const qint64 got = std::max<qint64>(0, m_io->read(m_scratch.data(), want));
    ++m_blocksRead;
    const auto* b = reinterpret_cast<const uchar*>(m_scratch.constData());
    const int ch = m_channels;
    m_decoded.reserve(m_samplesPerBlock * ch);

    if (m_coding == Coding::ImaAdpcm) {
        if (got < 4 * ch)
            return 0;
        ImaState state[WavFile::MaxChannels];
        for (int c = 0; c < ch; ++c) {
            state[c] = {qint16(le16(b + 4 * c)), std::clamp<int>(b[4 * c + 2], 0, 88)};
            m_decoded.append(qint16(state[c].predictor));
        }
        // Each channel in turn gives four bytes, eight samples, low nibble first.
        const qint64 words = (got - 4 * ch) / (4 * ch);
        for (qint64 w = 0; w < words; ++w) {
            const qint64 base = m_decoded.size();
            m_decoded.resize(base + 8 * ch);
            for (int c = 0; c < ch; ++c) {
                const uchar* p = b + 4 * ch + (w * ch + c) * 4;
                for (int k = 0; k < 8; ++k)
                    m_decoded[base + k * ch + c] = state[c].next((p[k / 2] >> (k % 2 * 4)) & 0x0F);
            }
        }
    } else {
        if (got < 7 * ch)
            return 0;
        // Wide enough that no coefficient or step size of a hostile file overflows.
        qint64 coef1[WavFile::MaxChannels], coef2[WavFile::MaxChannels];
        qint64 delta[WavFile::MaxChannels], s1[WavFile::MaxChannels], s2[WavFile::MaxChannels];
        const int pairs = m_coefs.size() / 2;
        for (int c = 0; c < ch; ++c) {
            const int predictor = std::min<int>(b[c], pairs - 1);
            coef1[c] = m_coefs[2 * predictor];
            coef2[c] = m_coefs[2 * predictor + 1];
            delta[c] = qint16(le16(b + ch + 2 * c));
            s1[c] = qint16(le16(b + 3 * ch + 2 * c));
            s2[c] = qint16(le16(b + 5 * ch + 2 * c));
        }
        for (int c = 0; c < ch; ++c)
            m_decoded.append(qint16(s2[c]));
        for (int c = 0; c < ch; ++c)
            m_decoded.append(qint16(s1[c]));
        // Nibbles run across the channels, high nibble first.
        const qint64 nibbles = (got - 7 * ch) * 2 / ch * ch;
        for (qint64 i = 0; i < nibbles; ++i) {
            const int c = int(i % ch);
            const int n = (b[7 * ch + i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
            const qint64 predicted = (s1[c] * coef1[c] + s2[c] * coef2[c]) >> 8;
            const qint16 sample = clamp16(predicted + (n >= 8 ? n - 16 : n) * delta[c]);
            s2[c] = s1[c];
            s1[c] = sample;
            delta[c] = std::clamp<qint64>((MsAdapt[n] * delta[c]) >> 8, 16, 1 << 24);
            m_decoded.append(sample);
        }
    }
    return m_decoded.size() / ch;
}
