#pragma once
// The effect sound: the program's one sound routine, which also serves as the stop request that
// every closing window sends.

#include <QString>
#include <QtGlobal>

// Plays the WAV file at path (or stops, see stopFirst) and returns a result code:
// 0 started (played, when synchronous), 1 file too large for the from-memory mode,
// 2 synchronous and loop together, 3 file missing/empty/unreadable in from-memory mode,
// 4 the sound output refused (for example a missing file in file mode, or a sound of ours still
// playing).
qint32 PlayEffectSound(const QString& path, bool synchronous, bool loop, bool fromMemory,
                       bool stopFirst);

// The message a caller shows for a result code.
QString EffectSoundMessage(qint32 code);
