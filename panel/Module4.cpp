#include "Module4.h"

#include "sound/EffectSoundPlayer.h"
#include "sound/QtSoundOutput.h"

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

qint32 PlayEffectSound(const QString& path, bool synchronous, bool loop, bool fromMemory,
                       bool stopFirst) {
    return player().play(path, synchronous, loop, fromMemory, stopFirst);
}

QString EffectSoundMessage(qint32 code) {
    return EffectSoundPlayer::message(code);
}
