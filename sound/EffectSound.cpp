#include "EffectSound.h"

#include "EffectSoundPlayer.h"
#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <memory>

namespace {

// What the program plays on when the sound output module cannot be loaded: nothing, and every
// sound is refused, as when there is no output device.
class NoOutput final : public SoundOutput {
  public:
    std::unique_ptr<Sound> openFile(const QString&) override { return nullptr; }
    std::unique_ptr<Sound> openMemory(const QByteArray&) override { return nullptr; }
    bool start(std::unique_ptr<Sound>, bool) override { return false; }
    void stopAll() override {}
    bool isPlaying() override { return false; }
    bool waitFinished(qint64) override { return true; }
    void shutdown() override {}
};

// The sound output module (ProgramFolders::module). It brings the sound server's client and the
// decoders, which a character that only dozes never needs.
std::unique_ptr<SoundOutput> loadOutput() {
    const QString path = ProgramFolders::module(QStringLiteral(MOKOPON_SOUND_MODULE));
    if (!QFileInfo::exists(path)) {
        qWarning("mokopon: no sound output module %s", qPrintable(path));
        return std::make_unique<NoOutput>();
    }
    QLibrary module(path);
    using Create = SoundOutput* (*)();
    if (const auto create = reinterpret_cast<Create>(module.resolve("mokoponSoundOutput")))
        return std::unique_ptr<SoundOutput>(create());
    qWarning("mokopon: the sound output cannot be loaded: %s", qPrintable(module.errorString()));
    return std::make_unique<NoOutput>();
}

std::unique_ptr<SoundOutput> g_output;
std::unique_ptr<EffectSoundPlayer> g_player;

EffectSoundPlayer& player() {
    if (!g_player) {
        g_output = loadOutput();
        g_player = std::make_unique<EffectSoundPlayer>(*g_output);
        // The sound thread and the sink go while Qt still stands; after that, nothing is left
        // to close them with. The output itself stays for any later call.
        qAddPostRoutine([] { g_output->shutdown(); });
    }
    return *g_player;
}

} // namespace

namespace EffectSound {

qint32 play(const QString& path, bool synchronous, bool loop, bool fromMemory, bool stopFirst) {
    return player().play(path, synchronous, loop, fromMemory, stopFirst);
}

void stop() {
    // Before the first sound nothing of ours can play: the output stays unloaded.
    if (g_player)
        g_player->play(QString(), false, false, false, true);
}

QString message(qint32 code) {
    return EffectSoundPlayer::message(code);
}

} // namespace EffectSound
