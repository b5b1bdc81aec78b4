#include "PulseOutput.h"

#include "WavFile.h"

#include <QCoreApplication>
#include <pulse/pulseaudio.h>

namespace {

// How long a finished stream, and the connection to the server, stay open: the server still plays
// what it holds when it reports the stream drained, and a bark every second keeps its connection.
constexpr pa_usec_t ReleaseAfterUs = 2000 * PA_USEC_PER_MSEC;
// Longest wait for the server to accept the connection or a stream; one that hangs is refused.
constexpr pa_usec_t AnswerWithinUs = 5000 * PA_USEC_PER_MSEC;
// What the server buffers ahead: a sound starts as soon as it is full, and a stop disconnects
// the stream at once, so only a busy machine's hiccups care how long it is.
constexpr pa_usec_t BufferUs = 250 * PA_USEC_PER_MSEC;

struct Timeout {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

} // namespace

PulseOutput::PulseOutput() = default;

PulseOutput::~PulseOutput() {
    shutdown();
}

std::unique_ptr<Sound> PulseOutput::openFile(const QString& path) {
    return WavFile::openFile(path);
}

std::unique_ptr<Sound> PulseOutput::openMemory(const QByteArray& bytes) {
    return WavFile::openMemory(bytes);
}

bool PulseOutput::start(std::unique_ptr<Sound> sound, bool loop) {
    // Every sound this output plays, it opened itself.
    auto source = std::make_unique<PcmSource>(
        std::unique_ptr<WavFile>(static_cast<WavFile*>(sound.release())), loop);
    const pa_sample_spec format{PA_SAMPLE_S16LE, uint32_t(source->sound().sampleRate()),
                                uint8_t(source->sound().channels())};
    if (!pa_sample_spec_valid(&format))
        return false;

    if (!m_loop) {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop)
            return false;
        pa_threaded_mainloop_set_name(m_loop, "effect sound");
        if (pa_threaded_mainloop_start(m_loop) < 0) {
            pa_threaded_mainloop_free(m_loop);
            m_loop = nullptr;
            return false;
        }
    }

    pa_threaded_mainloop_lock(m_loop);
    stopStream();
    if (m_release) {
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_release);
        m_release = nullptr;
    }
    bool ok = connectContext();
    if (ok) {
        pa_channel_map map;
        pa_channel_map_init_extend(&map, format.channels, PA_CHANNEL_MAP_WAVEEX);
        m_stream = pa_stream_new(m_context, "effect sound", &format, &map);
        ok = m_stream != nullptr;
    }
    if (ok) {
        pa_stream_set_state_callback(m_stream, &PulseOutput::onStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(BufferUs, &format));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(-1);
        m_source = std::move(source);
        m_draining = false;
        // Playing from here on: a short sound may be written and drained before the wait ends.
        setPlaying(true);
        ok = pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                        nullptr) == 0 &&
             waitUntil([this] { return pa_stream_get_state(m_stream) != PA_STREAM_CREATING; }) &&
             pa_stream_get_state(m_stream) == PA_STREAM_READY;
        if (!ok) {
            stopStream();
            scheduleRelease();
        }
    }
    pa_threaded_mainloop_unlock(m_loop);
    return ok;
}

bool PulseOutput::connectContext() {
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
        return true;
    // A connection the server dropped is made anew; no server refuses the sound.
    releaseContext();
    QByteArray name = QCoreApplication::applicationName().toUtf8();
    if (name.isEmpty())
        name = "mokopon";
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), name.constData());
    if (!m_context)
        return false;
    pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
        !waitUntil([this] {
            const pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        }) ||
        pa_context_get_state(m_context) != PA_CONTEXT_READY) {
        releaseContext();
        return false;
    }
    return true;
}

bool PulseOutput::waitUntil(const std::function<bool()>& done) {
    Timeout timeout{m_loop};
    pa_time_event* timer = pa_context_rttime_new(
        m_context, pa_rtclock_now() + AnswerWithinUs,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* t = static_cast<Timeout*>(data);
            t->expired = true;
            pa_threaded_mainloop_signal(t->loop, 0);
        },
        &timeout);
    while (!done() && !timeout.expired)
        pa_threaded_mainloop_wait(m_loop);
    if (timer)
        pa_threaded_mainloop_get_api(m_loop)->time_free(timer);
    return done();
}

void PulseOutput::stopStream() {
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        // Disconnecting takes the stream off the output at once: the stop is immediate.
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    m_source.reset();
    m_draining = false;
    setPlaying(false);
}

void PulseOutput::releaseContext() {
    if (m_release) {
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_release);
        m_release = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

void PulseOutput::scheduleRelease() {
    if (!m_context)
        return;
    if (m_release) {
        pa_context_rttime_restart(m_context, m_release, pa_rtclock_now() + ReleaseAfterUs);
        return;
    }
    m_release = pa_context_rttime_new(
        m_context, pa_rtclock_now() + ReleaseAfterUs,
        [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* data) {
            auto* self = static_cast<PulseOutput*>(data);
            self->m_release = nullptr;
            api->time_free(event);
            self->stopStream();
            self->releaseContext();
        },
        this);
}

void PulseOutput::write(size_t bytes) {
    while (bytes > 0 && m_source && !m_source->atEnd()) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &data, &size) < 0 || !data)
            return;
        const qint64 n = m_source->read(static_cast<char*>(data), qint64(size));
        if (n <= 0) {
            pa_stream_cancel_write(m_stream);
            break;
        }
        pa_stream_write(m_stream, data, size_t(n), nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= qMin(bytes, size_t(n));
    }
    if (m_source && m_source->atEnd() && !m_draining) {
        // All is handed over: start even a sound shorter than the buffer, and hear when it ends.
        m_draining = true;
        if (pa_operation* o = pa_stream_trigger(m_stream, nullptr, nullptr))
            pa_operation_unref(o);
        if (pa_operation* o = pa_stream_drain(m_stream, &PulseOutput::onDrained, this))
            pa_operation_unref(o);
        else
            drained(false);
    }
}

void PulseOutput::drained(bool) {
    // Ended either way; the stream goes a short while later, or with the next sound.
    setPlaying(false);
    scheduleRelease();
}

void PulseOutput::setPlaying(bool playing) {
    {
        std::lock_guard lock(m_mutex);
        m_playing = playing;
    }
    m_changed.notify_all();
}

void PulseOutput::onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseOutput*>(self)->m_loop, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseOutput*>(data);
    // A stream the server dropped (the server went away) has ended the sound.
    if (stream == self->m_stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) &&
        self->isPlaying())
        self->setPlaying(false);
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseOutput::onWrite(pa_stream* stream, size_t bytes, void* data) {
    auto* self = static_cast<PulseOutput*>(data);
    if (stream == self->m_stream)
        self->write(bytes);
}

void PulseOutput::onDrained(pa_stream* stream, int success, void* data) {
    auto* self = static_cast<PulseOutput*>(data);
    if (stream == self->m_stream)
        self->drained(success != 0);
}

void PulseOutput::stopAll() {
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_stream) {
        stopStream();
        scheduleRelease();
    }
    pa_threaded_mainloop_unlock(m_loop);
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
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    stopStream();
    releaseContext();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
}
