#pragma once
// Lives in the sound thread and owns the audio sink there. Playing on a thread of its own keeps
// the sound going while the user-interface thread is busy (a mail check, a synchronous wait) and
// lets a synchronous play block that thread without running its events.

#include "PcmSource.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <mutex>

class QAudioSink;

class SinkWorker : public QObject {
    Q_OBJECT
  public:
    explicit SinkWorker(QObject* parent = nullptr);
    ~SinkWorker() override;

    // Called in the sound thread.
    bool play(const QAudioDevice& device, std::unique_ptr<WavFile> sound, bool loop);
    void stop();

    // Called from any thread.
    bool isPlaying();
    bool waitFinished(qint64 timeoutMs);

  private:
    void onSinkState(quint64 generation);
    void finish();
    void release();
    void setPlaying(bool playing);

    QAudioSink* m_sink = nullptr;
    PcmSource* m_source = nullptr;
    QTimer m_tail;
    QTimer m_release;
    QElapsedTimer m_since;
    qint64 m_durationMs = 0;
    quint64 m_generation = 0; // tells a late signal of an earlier sink from the current one

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_playing = false;
};
