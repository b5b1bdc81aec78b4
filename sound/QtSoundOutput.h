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

    std::unique_ptr<Sound> openFile(const QString& path) override;
    std::unique_ptr<Sound> openMemory(const QByteArray& bytes) override;
    bool start(std::unique_ptr<Sound> sound, bool loop) override;
    void stopAll() override;
    bool isPlaying() override;
    bool waitFinished(qint64 timeoutMs) override;
    void shutdown() override;

  private:
    QThread m_thread;
    SinkWorker* m_worker = nullptr;
};
