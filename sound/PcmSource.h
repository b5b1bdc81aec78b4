#pragma once
// The audio output pulls 16-bit interleaved samples from here; they are decoded from the WAV as
// they are needed, so a long file is never held decoded in memory. With loop on, the sound starts
// over at its end and the device never ends.

#include "WavFile.h"

#include <QIODevice>
#include <memory>

class PcmSource : public QIODevice {
    Q_OBJECT
  public:
    PcmSource(std::unique_ptr<WavFile> sound, bool loop, QObject* parent = nullptr);

    const WavFile& sound() const { return *m_sound; }
    bool loops() const { return m_loop; }

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

  protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    qint64 frameBytes() const;

    std::unique_ptr<WavFile> m_sound;
    bool m_loop;
    qint64 m_framesRead = 0; // within the current pass
    bool m_ended = false;
};
