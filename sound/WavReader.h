#pragma once
// A WAV file opened for playing, decoded by libsndfile to 16-bit interleaved samples as it is
// read, so that a long file is never held decoded in memory. Only WAV files are played, as on
// Windows; whatever else libsndfile could read is refused.

#include "SoundOutput.h"

#include <QByteArray>
#include <QString>
#include <memory>

struct sf_private_tag;

class WavReader : public Sound {
  public:
    ~WavReader() override;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    // Opens a plain file for reading only; nothing is ever created, and a pipe or a device is
    // refused, never waited on. Null when missing or not a playable WAV.
    static std::unique_ptr<WavReader> openFile(const QString& path);
    // Reads from bytes, which this reader shares (implicitly) for its whole life, so the caller
    // may replace its own copy while a sound still plays from this one.
    static std::unique_ptr<WavReader> openMemory(const QByteArray& bytes);

    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    qint64 frames() const { return m_frames; }
    qint64 durationMs() const override;

    // Reads up to count frames as interleaved 16-bit samples; returns the frames read, 0 at the
    // end (also where the file turns out shorter than its header said).
    qint64 readFrames(qint16* out, qint64 count);
    bool rewind();

  private:
    struct Memory {
        QByteArray bytes;
        qint64 pos = 0;
    };

    WavReader() = default;
    bool takeInfo(int format, int channels, int rate, qint64 frames);

    sf_private_tag* m_file = nullptr;
    int m_fd = -1;
    std::unique_ptr<Memory> m_memory;
    int m_channels = 0;
    int m_rate = 0;
    qint64 m_frames = 0;
};
