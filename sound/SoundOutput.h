#pragma once
// Where the effect sound goes: the sound output module in the program, a fake in the tests. The
// output also opens the sounds it plays, so that the program itself needs no decoder.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

// A sound opened for playing, as the output that opened it reads it.
class Sound {
  public:
    virtual ~Sound() = default;
    virtual qint64 durationMs() const = 0;
};

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;

    // Opens a WAV file, or WAV bytes (shared for the sound's whole life), for reading only.
    // Null when missing or not a playable WAV.
    virtual std::unique_ptr<Sound> openFile(const QString& path) = 0;
    virtual std::unique_ptr<Sound> openMemory(const QByteArray& bytes) = 0;
    // Starts playing a sound this output opened, once or over and over, and returns at once.
    // False when the output refuses: no output device, or the server would not open a stream.
    virtual bool start(std::unique_ptr<Sound> sound, bool loop) = 0;
    // Silences whatever this program plays; harmless when nothing plays.
    virtual void stopAll() = 0;
    // True while a started sound has not yet finished or been stopped.
    virtual bool isPlaying() = 0;
    // Blocks the calling thread until the sound has finished, at most timeoutMs.
    // False when it was still playing at the limit.
    virtual bool waitFinished(qint64 timeoutMs) = 0;
    // Stops the sound and lets go of the sound server and every buffer; the output opens them
    // again when next asked to play.
    virtual void shutdown() = 0;
};
