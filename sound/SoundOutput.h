#pragma once
// Where the effect sound goes: the sound server in the program, a fake in the tests.

#include "SndFile.h"

#include <QtGlobal>
#include <memory>

class SoundOutput {
  public:
    virtual ~SoundOutput() = default;

    // Starts playing the sound, once or over and over, and returns at once. False when the
    // output refuses: no output device, or the server would not open a stream.
    virtual bool start(std::unique_ptr<SndFile> sound, bool loop) = 0;
    // Silences whatever this program plays; harmless when nothing plays.
    virtual void stopAll() = 0;
    // True while a started sound has not yet finished or been stopped.
    virtual bool isPlaying() = 0;
    // Blocks the calling thread until the sound has finished, at most timeoutMs.
    // False when it was still playing at the limit.
    virtual bool waitFinished(qint64 timeoutMs) = 0;
};
