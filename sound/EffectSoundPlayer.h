#pragma once
// The effect sound's rules over an output: stop first, the flag check, the from-memory size limit,
// and that a sound of ours still playing is not interrupted by a new one.

#include "SoundOutput.h"

#include <QByteArray>
#include <QString>

class EffectSoundPlayer {
  public:
    enum Result : qint32 {
        Started = 0,
        TooLarge = 1,
        BadFlags = 2,
        FileMissing = 3,
        Refused = 4,
    };

    static constexpr qint64 MemoryLimit = 2097152;
    // A synchronous play waits for the sound's own length plus this much, so that an output that
    // stalls cannot hold the caller for good.
    static constexpr qint64 SyncMarginMs = 3000;

    explicit EffectSoundPlayer(SoundOutput& output);

    qint32 play(const QString& path, bool synchronous, bool loop, bool fromMemory, bool stopFirst);

    // What the from-memory mode loaded last; kept after the call, as the sound may play from it.
    const QByteArray& buffer() const { return m_buffer; }

    static QString message(qint32 code);

  private:
    SoundOutput& m_output;
    QByteArray m_buffer;
};
