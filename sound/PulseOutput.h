#pragma once
// The sound output on Linux: one playback stream to the sound server (PulseAudio, or PipeWire's
// server for its clients) through libpulse's threaded main loop, whose thread pulls the samples
// from the decoder as the server asks for them. That thread keeps the sound going while the
// user-interface thread is busy, and lets a synchronous play block that thread. The caller never
// waits on the server without a limit: it waits on its own condition with a deadline.
// A sound has finished when it has had its length and the buffer's; a stop after that leaves it
// to play out what the server still holds of it.

#include "SoundOutput.h"
#include "WavReader.h"

#include <condition_variable>
#include <mutex>
#include <vector>

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
    // What the callers wait for, under m_mutex.
    enum class Link { None, Connecting, Ready, Failed };

    // One stream and the sound it plays. A sound that has had its time is finishing: the server
    // may still hold some of it (a sink that renders far ahead asks for the rest late), so its
    // stream is drained, not deleted, and the next sound plays beside it.
    struct Playback {
        PulseOutput* output;
        pa_stream* stream = nullptr;
        std::unique_ptr<WavReader> sound;
        bool loop = false;
        bool draining = false;
        quint64 endsAt = 0;   // when it has sounded to its end (rt clock, µs); 0 while unknown
        quint64 giveUpAt = 0; // a finishing stream goes by then whatever the server says
    };

    // All below run with the main loop's lock held.
    bool connectServer();
    bool openStream(std::unique_ptr<WavReader> sound, bool loop);
    void endPlayback(Playback* playback);
    void endAll();
    void letGoOfPlayedOut();
    void disconnectServer();
    void feed(Playback* playback, size_t bytes);
    void streamChanged(Playback* playback);
    void contextChanged();
    // Ends the current sound's time, lets finishing streams go at their bound, and lets go of
    // the server when nothing has played for a while; then sets the timer for the next of these.
    void onTimer();

    void setLink(Link* which, Link to);
    void setPlaying(bool playing);
    bool waitFor(Link* which, qint64 timeoutMs);

    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_time_event* m_timer = nullptr;
    std::vector<std::unique_ptr<Playback>> m_playbacks;
    Playback* m_current = nullptr;
    quint64 m_releaseAt = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Link m_server = Link::None;
    Link m_streamLink = Link::None;
    bool m_playing = false;
};
