#include "PcmSource.h"

PcmSource::PcmSource(std::unique_ptr<WavFile> sound, bool loop, QObject* parent)
    : QIODevice(parent), m_sound(std::move(sound)), m_loop(loop) {
    // A sound without frames would make the loop spin without producing anything.
    if (m_sound->frames() == 0)
        m_loop = false;
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 PcmSource::frameBytes() const {
    return qint64(sizeof(qint16)) * m_sound->channels();
}

bool PcmSource::atEnd() const {
    return m_ended;
}

qint64 PcmSource::bytesAvailable() const {
    if (m_ended)
        return 0;
    const qint64 frames = m_loop ? m_sound->frames() : m_sound->frames() - m_framesRead;
    return qMax<qint64>(0, frames) * frameBytes() + QIODevice::bytesAvailable();
}

qint64 PcmSource::readData(char* data, qint64 maxSize) {
    auto* out = reinterpret_cast<qint16*>(data);
    const qint64 wanted = maxSize / frameBytes();
    qint64 done = 0;
    while (done < wanted && !m_ended) {
        const qint64 n = m_sound->readFrames(out + done * m_sound->channels(), wanted - done);
        done += n;
        m_framesRead += n;
        if (n > 0)
            continue;
        // At the end of a pass: start over, or end. A failed rewind ends the sound too.
        if (m_loop && m_framesRead > 0 && m_sound->rewind())
            m_framesRead = 0;
        else
            m_ended = true;
    }
    return done * frameBytes();
}
