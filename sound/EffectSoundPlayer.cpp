#include "EffectSoundPlayer.h"

#include <QFile>
#include <QFileInfo>

EffectSoundPlayer::EffectSoundPlayer(SoundOutput& output) : m_output(output) {}

qint32 EffectSoundPlayer::play(const QString& path, bool synchronous, bool loop, bool fromMemory,
                               bool stopFirst) {
    if (stopFirst)
        m_output.stopAll();
    if (synchronous && loop)
        return BadFlags;

    std::unique_ptr<Sound> sound;
    if (fromMemory) {
        QFile file(path);
        // ReadOnly never creates the file. A directory or an unreadable file fails here too; a
        // pipe would wait for a writer for good.
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return FileMissing;
        const qint64 size = file.size();
        if (size > MemoryLimit)
            return TooLarge; // the file closes as it goes out of scope
        if (size <= 0)
            return FileMissing;
        QByteArray bytes = file.read(size);
        if (bytes.size() != size)
            return FileMissing;
        // A sound still playing from the old bytes shares them and keeps them alive.
        m_buffer = std::move(bytes);
        sound = m_output.openMemory(m_buffer);
    } else {
        sound = m_output.openFile(path);
    }

    // Neither an undecodable file nor a missing one falls back to some default sound.
    if (!sound)
        return Refused;
    // A sound of ours still playing is not interrupted; callers send a stop request first.
    if (m_output.isPlaying())
        return Refused;

    const qint64 durationMs = sound->durationMs();
    if (!m_output.start(std::move(sound), loop))
        return Refused;
    if (synchronous && !m_output.waitFinished(durationMs + SyncMarginMs)) {
        // The output stalled: the sound did not play as asked.
        m_output.stopAll();
        return Refused;
    }
    return Started;
}

QString EffectSoundPlayer::message(qint32 code) {
    switch (code) {
    case Started:
        return QString();
    case TooLarge:
        return QStringLiteral("ファイルサイズが大きすぎて展開に\r\n"
                              "時間がかかる可能性があるため中止しました");
    case BadFlags:
        return QStringLiteral("フラグの指定が正しくありません");
    case FileMissing:
        return QStringLiteral("指定されたファイルは存在しません");
    case Refused:
        return QStringLiteral("API がエラーを返しました");
    default:
        return QStringLiteral("未定義の致命的なエラーです");
    }
}
