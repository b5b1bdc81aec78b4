// The sound output module's one entry: the program loads this library at its first sound.

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "QtSoundOutput.h"
using Output = QtSoundOutput;
#else
#include "PulseOutput.h"
using Output = PulseOutput;
#endif

extern "C" Q_DECL_EXPORT SoundOutput* mokoponSoundOutput() {
    return new Output;
}
