#pragma once
// The sound output on Linux: the sound server's own client library (PulseAudio, or PipeWire's
// server for its clients) on a thread of its own, which pulls the samples from the decoder as the
// server asks for them. A thread of its own keeps the sound going while the user-interface
// thread is busy, and lets a synchronous play block that thread.

#include "PcmSource.h"
#include "SoundOutput.h"

#include <condition_variable>
#include <functional>
#include <mutex>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

class PulseOutput : public SoundOutput {
  public:
    PulseOutput();
    ~PulseOutput() override;

    std::unique_ptr<Sound> openFile(const QString& path) override;
    std::unique_ptr<Sound> openMemory(const QByteArray& bytes) override;
    bool start(std::unique_ptr<Sound> sound, bool loop) override;
    void stopAll() override;
    bool isPlaying() override;
    bool waitFinished(qint64 timeoutMs) override;
    void shutdown() override;

  private:
    // All below run with the main loop locked (in its thread, or holding its lock).
    bool connectContext();
    bool waitUntil(const std::function<bool()>& done);
    void stopStream();
    void releaseContext();
    void scheduleRelease();
    void write(size_t bytes);
    void drained(bool ok);
    void setPlaying(bool playing);

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, size_t bytes, void* self);
    static void onDrained(pa_stream* stream, int success, void* self);

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_release = nullptr;
    std::unique_ptr<PcmSource> m_source;
    bool m_draining = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_playing = false;
};
