#pragma once
// The sound output of the program: Qt Multimedia's audio sink on the default output device
// (PulseAudio or PipeWire on Linux), driven from a thread of its own.

#include "SoundOutput.h"

#include <QThread>

class SinkWorker;

class QtSoundOutput : public SoundOutput {
  public:
    QtSoundOutput();
    ~QtSoundOutput() override;

    bool start(std::unique_ptr<SndFile> sound, bool loop) override;
    void stopAll() override;
    bool isPlaying() override;
    bool waitFinished(qint64 timeoutMs) override;

    // Stops the sound and the thread; the output starts them again when next asked to play.
    void shutdown();

  private:
    QThread m_thread;
    SinkWorker* m_worker = nullptr;
};
