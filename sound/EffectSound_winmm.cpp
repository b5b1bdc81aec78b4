// The effect sound on Windows: the system's own PlaySound, with the flags this program has always
// used, so that sounds behave as Windows users know them (SND_NOSTOP refuses a second sound while
// one of ours plays, SND_NODEFAULT never plays the system's default sound instead).

#include "EffectSound.h"

#include "EffectSoundPlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <windows.h>

#include <mmsystem.h>

namespace {

constexpr DWORD kFileFlags = SND_NODEFAULT | SND_NOSTOP | SND_NOWAIT | SND_FILENAME; // 0x22012
constexpr DWORD kMemoryFlags = SND_NODEFAULT | SND_MEMORY | SND_NOSTOP | SND_NOWAIT; // 0x2016
static_assert(kFileFlags == 0x22012 && kMemoryFlags == 0x2016 && SND_PURGE == 0x40 &&
              SND_ASYNC == 0x1 && SND_LOOP == 0x8);

// What the from-memory mode loaded last; it stays after the call, as the sound plays from it.
QByteArray g_buffer;
// Earlier buffers a sound may still play from: a new load must not free the bytes under a sound
// that was not stopped first. They go at the next stop.
QList<QByteArray> g_stillPlaying;

} // namespace

namespace EffectSound {

qint32 play(const QString& path, bool synchronous, bool loop, bool fromMemory, bool stopFirst) {
    const HMODULE instance = GetModuleHandleW(nullptr);
    if (stopFirst) {
        PlaySoundW(nullptr, instance, SND_PURGE);
        g_stillPlaying.clear();
    }
    if (synchronous && loop)
        return EffectSoundPlayer::BadFlags;

    DWORD flags = kFileFlags;
    if (fromMemory) {
        QFile file(path);
        // ReadOnly never creates the file; a folder or a device is no sound file.
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return EffectSoundPlayer::FileMissing;
        const qint64 size = file.size();
        if (size > EffectSoundPlayer::MemoryLimit)
            return EffectSoundPlayer::TooLarge; // the file closes as it goes out of scope
        if (size <= 0)
            return EffectSoundPlayer::FileMissing;
        QByteArray bytes = file.read(size);
        if (bytes.size() != size)
            return EffectSoundPlayer::FileMissing;
        if (!g_buffer.isEmpty())
            g_stillPlaying.append(g_buffer);
        g_buffer = std::move(bytes);
        flags = kMemoryFlags;
    }
    // An empty name plays nothing and fails (SND_NODEFAULT); asked of Wine, that nothing still
    // holds its one sound slot for a moment, and the play that follows a stop request would fail.
    if (!fromMemory && path.isEmpty())
        return EffectSoundPlayer::Refused;
    if (!synchronous)
        flags |= SND_ASYNC;
    if (loop)
        flags |= SND_LOOP;

    // The wide form: a program folder whose name the ANSI code page cannot spell still plays.
    const std::wstring name = path.toStdWString();
    const BOOL ok =
        fromMemory ? PlaySoundW(reinterpret_cast<LPCWSTR>(g_buffer.constData()), instance, flags)
                   : PlaySoundW(name.c_str(), instance, flags);
    return ok ? EffectSoundPlayer::Started : EffectSoundPlayer::Refused;
}

void stop() {
    play(QString(), false, false, false, true);
}

QString message(qint32 code) {
    return EffectSoundPlayer::message(code);
}

} // namespace EffectSound
