#pragma once
// The effect sound: the program's one sound routine. Every window that closes stops it. The
// sound output is a module of its own, loaded at the first sound; without it every sound is
// refused (code 4), as when there is no output device.

#include <QString>
#include <QtGlobal>

namespace EffectSound {

// Plays the WAV file at path and returns a result code:
// 0 started (played, when synchronous), 1 file too large for the from-memory mode,
// 2 synchronous and loop together, 3 file missing/empty/unreadable in from-memory mode,
// 4 the sound output refused (for example a missing file in file mode, or a sound of ours still
// playing). stopFirst stops what plays before; an empty path with stopFirst only stops.
qint32 play(const QString& path, bool synchronous, bool loop, bool fromMemory, bool stopFirst);

// Stops whatever this program plays.
void stop();

// The message a caller shows for a result code.
QString message(qint32 code);

} // namespace EffectSound
