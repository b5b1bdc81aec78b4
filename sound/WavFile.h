#pragma once
// A RIFF WAVE file opened for playing, decoded to 16-bit interleaved samples as it is read:
// integer PCM of 1 to 32 bits, IEEE float of 32 and 64 bits, µ-law, A-law, IMA and Microsoft
// ADPCM, plain or in the extensible header. The user may put any file in place of the sound, so
// the reader trusts no size it declares: it reads only within the file, allocates only bounded
// buffers, and refuses whatever it cannot play (other formats, zero channels or rate).

#include "SoundOutput.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

class QIODevice;

class WavFile : public Sound {
  public:
    ~WavFile() override;
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    // Opens for reading only; nothing is ever created. Null when missing or not a playable WAV.
    static std::unique_ptr<WavFile> openFile(const QString& path);
    // Reads from bytes, which this handle shares (implicitly) for its whole life, so the caller
    // may replace its own copy while a sound still plays from this one.
    static std::unique_ptr<WavFile> openMemory(const QByteArray& bytes);

    // More channels than this no sound server takes.
    static constexpr int MaxChannels = 32;

    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    qint64 frames() const { return m_frames; }
    qint64 durationMs() const override;

    // Reads up to count frames as interleaved 16-bit samples; returns the frames read, 0 at the
    // end (also where the file turns out shorter than its header said).
    qint64 readFrames(qint16* out, qint64 count);
    bool rewind();

  private:
    enum class Coding { Pcm, Float, MuLaw, ALaw, ImaAdpcm, MsAdpcm };

    WavFile() = default;
    static std::unique_ptr<WavFile> open(std::unique_ptr<QIODevice> io);
    bool readHeader();
    bool readFormat(const QByteArray& fmt);
    bool chunkIdAt(qint64 pos, qint64 size);
    qint64 readBlock(); // ADPCM: decodes the next block into m_decoded, returns its frames
    void convert(const uchar* in, qint16* out, qint64 samples) const;

    std::unique_ptr<QIODevice> m_io;
    Coding m_coding = Coding::Pcm;
    int m_channels = 0;
    int m_rate = 0;
    int m_bytesPerSample = 0; // the container of one sample; ADPCM: 0
    int m_blockAlign = 0;
    int m_samplesPerBlock = 0; // ADPCM: frames in a full block
    QVector<qint16> m_coefs;   // Microsoft ADPCM: coefficient pairs
    qint64 m_dataStart = 0;
    qint64 m_dataBytes = 0; // within the file
    qint64 m_frames = 0;

    qint64 m_framesRead = 0;
    qint64 m_blocksRead = 0;
    QVector<qint16> m_decoded; // ADPCM: the current block
    qint64 m_decodedPos = 0;   // frames of it already handed out
    QByteArray m_scratch;
};
