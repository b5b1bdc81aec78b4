// The sound output module's one entry: the program loads this library at its first sound.

#include "QtSoundOutput.h"

extern "C" Q_DECL_EXPORT SoundOutput* mokoponSoundOutput() {
    return new QtSoundOutput;
}
