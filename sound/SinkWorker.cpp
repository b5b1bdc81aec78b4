#include "SinkWorker.h"

#include <QAudioFormat>
#include <QAudioSink>

namespace {

// How long a finished stream stays open, so that the server plays what it still holds.
constexpr int ReleaseAfterMs = 2000;

} // namespace

SinkWorker::SinkWorker(QObject* parent) : QObject(parent), m_tail(this), m_release(this) {
    m_tail.setSingleShot(true);
    connect(&m_tail, &QTimer::timeout, this, &SinkWorker::finish);
    m_release.setSingleShot(true);
    connect(&m_release, &QTimer::timeout, this, &SinkWorker::release);
}

SinkWorker::~SinkWorker() {
    stop();
}

bool SinkWorker::play(const QAudioDevice& device, std::unique_ptr<WavFile> sound, bool loop) {
    stop();

    QAudioFormat format;
    format.setSampleRate(sound->sampleRate());
    format.setChannelCount(sound->channels());
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return false;

    const quint64 generation = ++m_generation;
    m_durationMs = sound->durationMs();
    m_source = new PcmSource(std::move(sound), loop, this);
    m_sink = new QAudioSink(device, format, this);
    // Queued: the sink may report from the sound server's own thread.
    connect(
        m_sink, &QAudioSink::stateChanged, this,
        [this, generation](QAudio::State) { onSinkState(generation); }, Qt::QueuedConnection);
    m_since.start();
    m_sink->start(m_source);
    if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
        stop();
        return false;
    }
    setPlaying(true);
    return true;
}

void SinkWorker::onSinkState(quint64 generation) {
    if (generation != m_generation || !m_sink)
        return;
    const QAudio::State state = m_sink->state();
    if (state == QAudio::StoppedState) {
        // The server went away or the stream failed.
        stop();
    } else if (state == QAudio::IdleState && m_source->atEnd() && isPlaying() &&
               !m_tail.isActive()) {
        // Everything is handed over, but the server still holds the last part of it: the sound
        // has ended once its own length has passed since it started.
        m_tail.start(int(qMax<qint64>(0, m_durationMs - m_since.elapsed())));
    }
}

void SinkWorker::finish() {
    // Closing the stream now could cut off the last few milliseconds still in the server.
    setPlaying(false);
    m_release.start(ReleaseAfterMs);
}

void SinkWorker::release() {
    stop();
}

void SinkWorker::stop() {
    ++m_generation;
    m_tail.stop();
    m_release.stop();
    // Detach first: closing the sink runs pending events, which must find nothing to act on.
    QAudioSink* sink = std::exchange(m_sink, nullptr);
    PcmSource* source = std::exchange(m_source, nullptr);
    if (sink) {
        sink->stop();
        delete sink;
    }
    delete source;
    setPlaying(false);
}

void SinkWorker::setPlaying(bool playing) {
    {
        std::lock_guard lock(m_mutex);
        m_playing = playing;
    }
    m_changed.notify_all();
}

bool SinkWorker::isPlaying() {
    std::lock_guard lock(m_mutex);
    return m_playing;
}

bool SinkWorker::waitFinished(qint64 timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_playing; });
}
