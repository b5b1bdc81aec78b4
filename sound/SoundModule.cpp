// The sound output module's one entry: the program loads this library at its first sound.

#include <QtGlobal>

#include "PulseOutput.h"
using Output = PulseOutput;

extern "C" Q_DECL_EXPORT SoundOutput* mokoponSoundOutput() {
    return new Output;
}
