#include "EffectSound.h"

#include "EffectSoundPlayer.h"
#include "QtSoundOutput.h"

#include <QCoreApplication>

namespace {

QtSoundOutput* g_output = nullptr;

EffectSoundPlayer& player() {
    static EffectSoundPlayer instance = [] {
        g_output = new QtSoundOutput;
        // The sound thread and the sink go while Qt still stands; after that, nothing is left
        // to close them with. The output itself stays for any later call.
        qAddPostRoutine([] { g_output->shutdown(); });
        return EffectSoundPlayer(*g_output);
    }();
    return instance;
}

} // namespace

namespace EffectSound {

qint32 play(const QString& path, bool synchronous, bool loop, bool fromMemory, bool stopFirst) {
    return player().play(path, synchronous, loop, fromMemory, stopFirst);
}

void stop() {
    player().play(QString(), false, false, false, true);
}

QString message(qint32 code) {
    return EffectSoundPlayer::message(code);
}

} // namespace EffectSound
