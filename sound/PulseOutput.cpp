#include "PulseOutput.h"

#include <QCoreApplication>
#include <algorithm>
#include <pulse/pulseaudio.h>

namespace {

// Longest wait for the server to accept the connection or a stream; one that hangs is refused.
constexpr qint64 AnswerWithinMs = 5000;
// What the server holds of the sound ahead of playing it. Left to the server, a stream lowers the
// sink's latency to a fraction of its buffer. A sink that has rendered far ahead (a second or two,
// when nothing asked for less) takes back only as much of that as its new latency to start a new
// stream: with a small buffer the sound starts that much late, and with it the stream is still
// needed when the next sound comes. A stop takes the stream off the sink at once, whatever it
// holds.
constexpr pa_usec_t BufferUs = 1250 * PA_USEC_PER_MSEC;
// A sound has finished when it has had its own length and this: how late a server starts it.
constexpr pa_usec_t LateByUs = 250 * PA_USEC_PER_MSEC;
// A finishing stream whose drain the server has not reported by then is let go anyway.
constexpr pa_usec_t FinishWithinUs = 10 * PA_USEC_PER_SEC;
// How long the connection stays after the last sound: a bark every two seconds keeps it, a
// character that has stopped barking holds none.
constexpr pa_usec_t ReleaseAfterUs = 2500 * PA_USEC_PER_MSEC;

class Locked {
  public:
    explicit Locked(pa_threaded_mainloop* m) : m_mainloop(m) { pa_threaded_mainloop_lock(m); }
    ~Locked() { pa_threaded_mainloop_unlock(m_mainloop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    pa_threaded_mainloop* m_mainloop;
};

} // namespace

PulseOutput::PulseOutput() = default;

PulseOutput::~PulseOutput() {
    shutdown();
}

std::unique_ptr<Sound> PulseOutput::openFile(const QString& path) {
    return WavReader::openFile(path);
}

std::unique_ptr<Sound> PulseOutput::openMemory(const QByteArray& bytes) {
    return WavReader::openMemory(bytes);
}

bool PulseOutput::start(std::unique_ptr<Sound> sound, bool loop) {
    // Every sound this output plays, it opened itself.
    std::unique_ptr<WavReader> reader(static_cast<WavReader*>(sound.release()));
    if (!m_mainloop) {
        m_mainloop = pa_threaded_mainloop_new();
        if (!m_mainloop)
            return false;
        if (pa_threaded_mainloop_start(m_mainloop) < 0) {
            pa_threaded_mainloop_free(m_mainloop);
            m_mainloop = nullptr;
            return false;
        }
    }
    {
        Locked lock(m_mainloop);
        // Whatever still plays is over: only one sound plays.
        if (m_current)
            endPlayback(m_current);
        letGoOfPlayedOut();
        if (!connectServer())
            return false;
    }
    if (!waitFor(&m_server, AnswerWithinMs)) {
        Locked lock(m_mainloop);
        disconnectServer();
        return false;
    }
    {
        Locked lock(m_mainloop);
        if (!openStream(std::move(reader), loop)) {
            if (m_current)
                endPlayback(m_current);
            return false;
        }
    }
    if (!waitFor(&m_streamLink, AnswerWithinMs)) {
        Locked lock(m_mainloop);
        if (m_current)
            endPlayback(m_current);
        return false;
    }
    return true;
}

void PulseOutput::stopAll() {
    if (!m_mainloop)
        return;
    // A finishing sound has had its time; what the server still holds of it plays out.
    Locked lock(m_mainloop);
    if (m_current)
        endPlayback(m_current);
    letGoOfPlayedOut();
}

bool PulseOutput::isPlaying() {
    std::lock_guard lock(m_mutex);
    return m_playing;
}

bool PulseOutput::waitFinished(qint64 timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_playing; });
}

void PulseOutput::shutdown() {
    if (!m_mainloop)
        return;
    {
        Locked lock(m_mainloop);
        disconnectServer();
    }
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
}

bool PulseOutput::connectServer() {
    m_releaseAt = 0;
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        return true;
    // A connection the server dropped is made anew.
    disconnectServer();
    QByteArray name = QCoreApplication::applicationName().toUtf8();
    if (name.isEmpty())
        name = "mokopon";
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), name.constData());
    if (!m_context)
        return false;
    pa_context_set_state_callback(
        m_context,
        [](pa_context*, void* self) { static_cast<PulseOutput*>(self)->contextChanged(); }, this);
    setLink(&m_server, Link::Connecting);
    // The server configured for this user (client.conf, the environment, the X display); a
    // mascot does not start a sound server of its own.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnectServer();
        return false;
    }
    m_timer = pa_context_rttime_new(
        m_context, PA_USEC_INVALID,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            static_cast<PulseOutput*>(self)->onTimer();
        },
        this);
    return true;
}

bool PulseOutput::openStream(std::unique_ptr<WavReader> sound, bool loop) {
    if (!m_context || pa_context_get_state(m_context) != PA_CONTEXT_READY)
        return false;
    const pa_sample_spec format{PA_SAMPLE_S16NE, quint32(sound->sampleRate()),
                                quint8(sound->channels())};
    pa_channel_map map;
    if (!pa_sample_spec_valid(&format) ||
        !pa_channel_map_init_extend(&map, format.channels, PA_CHANNEL_MAP_WAVEEX))
        return false;
    auto playback = std::make_unique<Playback>();
    playback->output = this;
    playback->stream = pa_stream_new(m_context, "effect sound", &format, &map);
    if (!playback->stream)
        return false;
    // A sound without frames would make the loop spin without producing anything.
    playback->loop = loop && sound->frames() > 0;
    playback->sound = std::move(sound);
    pa_stream_set_state_callback(
        playback->stream,
        [](pa_stream*, void* p) {
            auto* playback = static_cast<Playback*>(p);
            playback->output->streamChanged(playback);
        },
        playback.get());
    pa_stream_set_write_callback(
        playback->stream,
        [](pa_stream*, size_t bytes, void* p) {
            auto* playback = static_cast<Playback*>(p);
            playback->output->feed(playback, bytes);
        },
        playback.get());
    m_current = playback.get();
    m_playbacks.push_back(std::move(playback));
    setLink(&m_streamLink, Link::Connecting);
    // Playing from here on: a short sound may be written before the caller hears of its start.
    setPlaying(true);
    pa_buffer_attr attr;
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = quint32(-1);
    attr.tlength = quint32(pa_usec_to_bytes(BufferUs, &format));
    // The server's timing tells when a finishing sound has been heard to its end.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_playback(m_current->stream, nullptr, &attr, flags, nullptr, nullptr) ==
           0;
}

void PulseOutput::feed(Playback* playback, size_t bytes) {
    if (playback->draining)
        return;
    pa_stream* stream = playback->stream;
    const size_t frame = pa_frame_size(pa_stream_get_sample_spec(stream));
    while (bytes >= frame) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data)
            return;
        size -= size % frame;
        auto* samples = static_cast<qint16*>(data);
        qint64 frames = size ? playback->sound->readFrames(samples, qint64(size / frame)) : 0;
        // At the end of a pass: start over, or end. A failed rewind ends the sound too.
        if (frames == 0 && size && playback->loop && playback->sound->rewind())
            frames = playback->sound->readFrames(samples, qint64(size / frame));
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            if (size)
                break;
            return;
        }
        pa_stream_write(stream, data, size_t(frames) * frame, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= std::min(bytes, size_t(frames) * frame);
    }
    if (bytes < frame)
        return;
    // All is handed over: the stream goes when the server has played it.
    playback->draining = true;
    pa_operation* drain = pa_stream_drain(
        stream,
        [](pa_stream* s, int, void* self) {
            auto* me = static_cast<PulseOutput*>(self);
            for (const auto& p : me->m_playbacks) {
                if (p->stream == s) {
                    me->endPlayback(p.get());
                    return;
                }
            }
        },
        this);
    if (drain)
        pa_operation_unref(drain);
}

void PulseOutput::streamChanged(Playback* playback) {
    switch (pa_stream_get_state(playback->stream)) {
    case PA_STREAM_READY:
        playback->endsAt = pa_rtclock_now() + LateByUs +
                           pa_usec_t(playback->sound->durationMs()) * PA_USEC_PER_MSEC;
        playback->giveUpAt = playback->endsAt + FinishWithinUs;
        if (playback == m_current)
            setLink(&m_streamLink, Link::Ready);
        onTimer();
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        if (playback == m_current) {
            setLink(&m_streamLink, Link::Failed);
            setPlaying(false);
        }
        break;
    default:
        break;
    }
}

void PulseOutput::contextChanged() {
    switch (pa_context_get_state(m_context)) {
    case PA_CONTEXT_READY:
        setLink(&m_server, Link::Ready);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // The server went away: the sound has ended. What is left goes with the next sound.
        setLink(&m_server, Link::Failed);
        setLink(&m_streamLink, Link::Failed);
        setPlaying(false);
        break;
    default:
        break;
    }
}

void PulseOutput::onTimer() {
    if (!m_context)
        return;
    const pa_usec_t now = pa_rtclock_now();
    if (m_current && !m_current->loop && m_current->endsAt && now >= m_current->endsAt) {
        // The sound has had its time: it is finished, and its stream finishing.
        m_current = nullptr;
        setPlaying(false);
    }
    for (size_t i = m_playbacks.size(); i-- > 0;) {
        Playback* p = m_playbacks[i].get();
        if (p != m_current && p->giveUpAt && now >= p->giveUpAt)
            endPlayback(p);
    }
    if (m_playbacks.empty() && m_releaseAt && now >= m_releaseAt) {
        disconnectServer();
        return;
    }
    pa_usec_t next = m_releaseAt ? m_releaseAt : PA_USEC_INVALID;
    for (const auto& p : m_playbacks) {
        const pa_usec_t at = p.get() == m_current ? (p->loop ? 0 : p->endsAt) : p->giveUpAt;
        if (at)
            next = std::min(next, at);
    }
    pa_context_rttime_restart(m_context, m_timer, next);
}

void PulseOutput::endPlayback(Playback* playback) {
    pa_stream* stream = playback->stream;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    // Disconnecting takes the stream off the sink at once: the stop is immediate.
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    if (playback == m_current) {
        m_current = nullptr;
        setLink(&m_streamLink, Link::Failed);
        setPlaying(false);
    }
    std::erase_if(m_playbacks, [playback](const auto& p) { return p.get() == playback; });
    if (m_playbacks.empty() && m_context) {
        m_releaseAt = pa_rtclock_now() + ReleaseAfterUs;
        onTimer();
    }
}

void PulseOutput::letGoOfPlayedOut() {
    for (size_t i = m_playbacks.size(); i-- > 0;) {
        Playback* p = m_playbacks[i].get();
        if (p == m_current || !p->draining)
            continue;
        // Heard to its end, by the server's clock: what is left is its bookkeeping (a sink that
        // renders far ahead reports the drain only when it renders next), and a stream still
        // there when the next one starts would hold that one back.
        const pa_timing_info* timing = pa_stream_get_timing_info(p->stream);
        pa_usec_t heard = 0;
        if (timing && pa_stream_get_time(p->stream, &heard) == 0 &&
            heard >= pa_bytes_to_usec(quint64(std::max<qint64>(0, timing->write_index)),
                                      pa_stream_get_sample_spec(p->stream)))
            endPlayback(p);
    }
}

void PulseOutput::endAll() {
    while (!m_playbacks.empty())
        endPlayback(m_playbacks.back().get());
}

void PulseOutput::disconnectServer() {
    pa_context* context = m_context;
    // Nothing is left to time once the connection goes.
    m_context = nullptr;
    endAll();
    m_releaseAt = 0;
    if (m_timer) {
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(m_timer);
        m_timer = nullptr;
    }
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    setLink(&m_server, Link::None);
}

void PulseOutput::setLink(Link* which, Link to) {
    {
        std::lock_guard lock(m_mutex);
        *which = to;
    }
    m_changed.notify_all();
}

void PulseOutput::setPlaying(bool playing) {
    {
        std::lock_guard lock(m_mutex);
        m_playing = playing;
    }
    m_changed.notify_all();
}

bool PulseOutput::waitFor(Link* which, qint64 timeoutMs) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [which] { return *which != Link::Connecting; });
    return *which == Link::Ready;
}
