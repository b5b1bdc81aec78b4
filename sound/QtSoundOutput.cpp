#include "QtSoundOutput.h"

#include "SinkWorker.h"

#include <QMediaDevices>

QtSoundOutput::QtSoundOutput() {
    m_thread.setObjectName(QStringLiteral("effect sound"));
}

QtSoundOutput::~QtSoundOutput() {
    shutdown();
}

std::unique_ptr<Sound> QtSoundOutput::openFile(const QString& path) {
    return WavFile::openFile(path);
}

std::unique_ptr<Sound> QtSoundOutput::openMemory(const QByteArray& bytes) {
    return WavFile::openMemory(bytes);
}

bool QtSoundOutput::start(std::unique_ptr<Sound> sound, bool loop) {
    // With no output device there is nothing to play on; the Windows sound call
    // fails in that case, and so do we (the caller reports it as the output's error).
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return false;

    if (!m_worker) {
        m_worker = new SinkWorker;
        m_worker->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_thread.start();
    }
    bool ok = false;
    // Every sound this output plays, it opened itself.
    auto* raw = static_cast<WavFile*>(sound.release());
    QMetaObject::invokeMethod(
        m_worker,
        [this, &device, raw, loop, &ok] {
            ok = m_worker->play(device, std::unique_ptr<WavFile>(raw), loop);
        },
        Qt::BlockingQueuedConnection);
    return ok;
}

void QtSoundOutput::stopAll() {
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, &SinkWorker::stop, Qt::BlockingQueuedConnection);
}

bool QtSoundOutput::isPlaying() {
    return m_worker && m_worker->isPlaying();
}

bool QtSoundOutput::waitFinished(qint64 timeoutMs) {
    return !m_worker || m_worker->waitFinished(timeoutMs);
}

void QtSoundOutput::shutdown() {
    if (!m_worker)
        return;
    // The sink has to go in the thread that made it; the worker follows when the thread ends.
    stopAll();
    m_worker = nullptr;
    m_thread.quit();
    m_thread.wait();
}
