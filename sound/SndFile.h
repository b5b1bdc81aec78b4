#pragma once
// Owner of one open libsndfile handle, read from a file or from bytes in memory.
//
// Only RIFF WAVE data is accepted: the effect sound plays WAV files and nothing else, so a file
// that libsndfile could decode in some other format still counts as unplayable.

#include "SoundOutput.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <sndfile.h>

class SndFile : public Sound {
  public:
    ~SndFile() override;
    SndFile(const SndFile&) = delete;
    SndFile& operator=(const SndFile&) = delete;

    // Opens for reading only; nothing is ever created. Null when missing or not a playable WAV.
    static std::unique_ptr<SndFile> openFile(const QString& path);
    // Reads from bytes, which this handle shares (implicitly) for its whole life, so the caller
    // may replace its own copy while a sound still plays from this one.
    static std::unique_ptr<SndFile> openMemory(const QByteArray& bytes);

    int sampleRate() const { return m_info.samplerate; }
    int channels() const { return m_info.channels; }
    qint64 frames() const { return m_info.frames; }
    qint64 durationMs() const override;

    // Reads up to count frames as interleaved 16-bit samples; returns the frames read, 0 at the
    // end.
    qint64 readFrames(qint16* out, qint64 count);
    bool rewind();

    // The bytes behind a handle opened from memory, and the read position in them.
    struct Memory {
        QByteArray bytes;
        sf_count_t pos = 0;
    };

  private:
    SndFile() = default;
    static std::unique_ptr<SndFile> checked(std::unique_ptr<SndFile> file);

    SNDFILE* m_handle = nullptr;
    SF_INFO m_info{};
    std::unique_ptr<Memory> m_memory; // on the heap: libsndfile keeps its address
};
