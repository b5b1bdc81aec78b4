// The effect sound's rules over a fake output that opens sounds as the real one does, the WAV
// decoding, and what its messages tell apart.

#include "EffectSound.h"
#include "EffectSoundPlayer.h"
#include "WavFixture.h"
#include "WavReader.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

// Opens sounds as the module's output does, and records what it is asked to play.
class FakeOutput : public SoundOutput {
  public:
    std::unique_ptr<Sound> openFile(const QString& path) override {
        return WavReader::openFile(path);
    }
    std::unique_ptr<Sound> openMemory(const QByteArray& bytes) override {
        return WavReader::openMemory(bytes);
    }
    bool start(std::unique_ptr<Sound> s, bool l) override {
        auto* file = static_cast<WavReader*>(s.release());
        calls << QStringLiteral("start");
        sound.reset(file);
        loop = l;
        playing = true;
        return true;
    }
    void stopAll() override {
        calls << QStringLiteral("stop");
        playing = false;
        sound.reset();
    }
    bool isPlaying() override { return playing; }
    bool waitFinished(qint64 timeoutMs) override {
        Q_UNUSED(timeoutMs);
        if (stalls)
            return false;
        playing = false;
        return true;
    }
    void shutdown() override { stopAll(); }

    QStringList calls;
    std::unique_ptr<WavReader> sound;
    bool loop = false;
    bool playing = false;
    bool stalls = false;
};

// True when some descriptor of this process is open on the file.
bool fileHeldOpen(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System)) {
        if (!target.isEmpty() && fd.symLinkTarget() == target)
            return true;
    }
    return false;
}

QVector<qint16> readAll(WavReader& sound) {
    QVector<qint16> out(sound.frames() * sound.channels());
    out.resize(sound.readFrames(out.data(), sound.frames()) * sound.channels());
    return out;
}

} // namespace

class TestEffectSound : public QObject {
    Q_OBJECT

  private slots:
    void init();

    void results_data();
    void results();
    void soundStillPlayingIsNotInterrupted();
    void playingSoundKeepsItsBytesWhenTheBufferIsReplaced();
    void synchronousGivesUpOnAStalledOutput();
    void decodesWhatTheFileHolds_data();
    void decodesWhatTheFileHolds();
    void messagesTellFailuresApart();
    void withoutTheModuleTheOutputRefuses_data();
    void withoutTheModuleTheOutputRefuses();

  private:
    QString makeFile(const QString& kind);

    QTemporaryDir m_dir;
};

void TestEffectSound::init() {
    QVERIFY(m_dir.isValid());
}

QString TestEffectSound::makeFile(const QString& kind) {
    const QString path = m_dir.filePath(kind + QStringLiteral(".wav"));
    QByteArray bytes;
    if (kind == QLatin1String("none"))
        return QString();
    if (kind == QLatin1String("missing"))
        return path;
    if (kind == QLatin1String("pipe")) {
        QFile::remove(path);
        if (mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            qFatal("cannot make %s", qPrintable(path));
        return path;
    }
    if (kind == QLatin1String("directory")) {
        QDir(m_dir.path()).mkpath(path);
        return path;
    }
    if (kind == QLatin1String("tone"))
        bytes = wav::toneWav(300);
    else if (kind == QLatin1String("junk"))
        bytes = QByteArray(4000, 'x');
    else if (kind == QLatin1String("atLimit"))
        bytes = wav::wavOfSize(EffectSoundPlayer::MemoryLimit);
    else if (kind == QLatin1String("overLimit"))
        bytes = wav::wavOfSize(EffectSoundPlayer::MemoryLimit + 2)
                    .left(EffectSoundPlayer::MemoryLimit + 1);
    if (!wav::write(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestEffectSound::results_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("synchronous");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("fromMemory");
    QTest::addColumn<bool>("stopFirst");
    QTest::addColumn<int>("code");

    QTest::newRow("stop request") << "none" << false << false << false << true << 4;
    QTest::newRow("sync and loop, stop first") << "tone" << true << true << false << true << 2;
    QTest::newRow("sync and loop before size check")
        << "overLimit" << true << true << true << false << 2;
    QTest::newRow("file") << "tone" << false << false << false << false << 0;
    QTest::newRow("file, loop") << "tone" << false << true << false << false << 0;
    QTest::newRow("file, stop first") << "tone" << false << false << false << true << 0;
    QTest::newRow("file missing") << "missing" << false << false << false << false << 4;
    QTest::newRow("file not a WAV") << "junk" << false << false << false << false << 4;
    QTest::newRow("file is a folder") << "directory" << false << false << false << false << 4;
    // Opening a pipe would wait for a writer for good.
    QTest::newRow("file is a pipe") << "pipe" << false << false << false << false << 4;
    QTest::newRow("file empty") << "empty" << false << false << false << false << 4;
    QTest::newRow("memory") << "tone" << false << false << true << false << 0;
    QTest::newRow("memory, synchronous") << "tone" << true << false << true << false << 0;
    QTest::newRow("memory, loop") << "tone" << false << true << true << false << 0;
    QTest::newRow("memory at the limit") << "atLimit" << false << false << true << false << 0;
    QTest::newRow("memory one byte over") << "overLimit" << false << false << true << false << 1;
    QTest::newRow("memory missing") << "missing" << false << false << true << false << 3;
    QTest::newRow("memory empty") << "empty" << false << false << true << false << 3;
    QTest::newRow("memory folder") << "directory" << false << false << true << false << 3;
    QTest::newRow("memory pipe") << "pipe" << false << false << true << false << 3;
    QTest::newRow("memory not a WAV") << "junk" << false << false << true << false << 4;
}

void TestEffectSound::results() {
    QFETCH(QString, file);
    QFETCH(bool, synchronous);
    QFETCH(bool, loop);
    QFETCH(bool, fromMemory);
    QFETCH(bool, stopFirst);
    QFETCH(int, code);

    const QString path = makeFile(file);
    FakeOutput out;
    EffectSoundPlayer player(out);
    QCOMPARE(player.play(path, synchronous, loop, fromMemory, stopFirst), code);

    // The stop comes before anything else, whatever the outcome.
    QCOMPARE(out.calls.value(0) == QLatin1String("stop"), stopFirst);
    QCOMPARE(out.calls.count(QStringLiteral("stop")), stopFirst ? 1 : 0);
    QCOMPARE(out.playing, code == 0 && !synchronous); // a synchronous sound has ended
    if (code == 0) {
        QVERIFY(out.sound);
        QCOMPARE(out.loop, loop);
        // From a file the sound reads as it plays; from memory the file is closed at once.
        QCOMPARE(fileHeldOpen(path), !fromMemory);
    } else {
        QVERIFY(!out.calls.contains(QStringLiteral("start")));
        // Nothing is left open on a refused file (the from-memory size check included).
        if (!path.isEmpty())
            QVERIFY(!fileHeldOpen(path));
    }
    if (file == QLatin1String("missing"))
        QVERIFY(!QFileInfo::exists(path));
    if (fromMemory && code == 0)
        QCOMPARE(player.buffer().size(), QFileInfo(path).size());
}

void TestEffectSound::soundStillPlayingIsNotInterrupted() {
    const QString path = makeFile(QStringLiteral("tone"));
    FakeOutput out;
    EffectSoundPlayer player(out);
    QCOMPARE(player.play(path, false, true, false, false), 0);
    const WavReader* first = out.sound.get();

    QCOMPARE(player.play(path, false, false, false, false), 4);
    QCOMPARE(out.sound.get(), first);
    QCOMPARE(out.calls.count(QStringLiteral("start")), 1);

    // The callers' way: a stop request, then the sound.
    player.play(QString(), false, false, false, true);
    QCOMPARE(player.play(path, false, false, false, false), 0);
    QCOMPARE(out.calls.count(QStringLiteral("start")), 2);
}

void TestEffectSound::playingSoundKeepsItsBytesWhenTheBufferIsReplaced() {
    const QVector<qint16> first = wav::tone(2000, 1, 8000, 500.0, 0.5);
    const QString a = m_dir.filePath(QStringLiteral("a.wav"));
    const QString b = m_dir.filePath(QStringLiteral("b.wav"));
    QVERIFY(wav::write(a, wav::pcm16(first, 1, 8000)));
    QVERIFY(wav::write(b, wav::toneWav(100, 2, 22050, 3000.0, 0.9)));

    FakeOutput out;
    EffectSoundPlayer player(out);
    QCOMPARE(player.play(a, false, false, true, false), 0);
    // The second load replaces the module's buffer, then finds our sound still playing.
    QCOMPARE(player.play(b, false, false, true, false), 4);
    QCOMPARE(player.buffer().size(), QFileInfo(b).size());
    QCOMPARE(readAll(*out.sound), first);
}

void TestEffectSound::synchronousGivesUpOnAStalledOutput() {
    FakeOutput out;
    out.stalls = true;
    EffectSoundPlayer player(out);
    QCOMPARE(player.play(makeFile(QStringLiteral("tone")), true, false, true, false), 4);
    QCOMPARE(out.calls.last(), QStringLiteral("stop"));
    QVERIFY(!out.playing);
}

void TestEffectSound::decodesWhatTheFileHolds_data() {
    QTest::addColumn<bool>("fromMemory");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::newRow("file, mono") << false << 1 << 44100;
    QTest::newRow("file, stereo") << false << 2 << 22050;
    QTest::newRow("memory, mono") << true << 1 << 8000;
    QTest::newRow("memory, stereo") << true << 2 << 48000;
}

void TestEffectSound::decodesWhatTheFileHolds() {
    QFETCH(bool, fromMemory);
    QFETCH(int, channels);
    QFETCH(int, rate);
    const QVector<qint16> samples = wav::tone(rate / 4, channels, rate, 1000.0, 0.7);
    const QString path = m_dir.filePath(QStringLiteral("d.wav"));
    QVERIFY(wav::write(path, wav::pcm16(samples, channels, rate)));

    FakeOutput out;
    EffectSoundPlayer player(out);
    QCOMPARE(player.play(path, false, false, fromMemory, false), 0);
    QCOMPARE(out.sound->channels(), channels);
    QCOMPARE(out.sound->sampleRate(), rate);
    QCOMPARE(out.sound->durationMs(), 250);
    QCOMPARE(readAll(*out.sound), samples);
}

// The caller shows message(code) in an error box when a bark fails (the companion's test checks
// the box): each failure must read differently, a start has nothing to say, and a code that play()
// never returns still says something that is none of the failures.
void TestEffectSound::messagesTellFailuresApart() {
    QVERIFY(EffectSound::message(EffectSoundPlayer::Started).isEmpty());
    const QList<qint32> failures = {EffectSoundPlayer::TooLarge, EffectSoundPlayer::BadFlags,
                                    EffectSoundPlayer::FileMissing, EffectSoundPlayer::Refused};
    QSet<QString> texts;
    for (qint32 code : failures) {
        const QString text = EffectSound::message(code);
        QVERIFY2(!text.trimmed().isEmpty(), qPrintable(QString::number(code)));
        texts.insert(text);
    }
    QCOMPARE(texts.size(), failures.size());
    const QString unknown = EffectSound::message(EffectSoundPlayer::Refused + 1);
    QVERIFY(!unknown.trimmed().isEmpty());
    QVERIFY2(!texts.contains(unknown), qPrintable(unknown));
    QCOMPARE(EffectSound::message(-1), unknown);
}

// This test's folder holds no sound output module: the rules still answer first, and what would
// reach the output is refused as when there is no output device.
void TestEffectSound::withoutTheModuleTheOutputRefuses_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("synchronous");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("fromMemory");
    QTest::addColumn<int>("code");
    QTest::newRow("file") << "tone" << false << false << false << 4;
    QTest::newRow("memory, synchronous") << "tone" << true << false << true << 4;
    QTest::newRow("sync and loop") << "tone" << true << true << false << 2;
    QTest::newRow("memory one byte over") << "overLimit" << false << false << true << 1;
    QTest::newRow("memory missing") << "missing" << false << false << true << 3;
}

void TestEffectSound::withoutTheModuleTheOutputRefuses() {
    QFETCH(QString, file);
    QFETCH(bool, synchronous);
    QFETCH(bool, loop);
    QFETCH(bool, fromMemory);
    QFETCH(int, code);
    EffectSound::stop();
    QCOMPARE(EffectSound::play(makeFile(file), synchronous, loop, fromMemory, true), code);
}

QTEST_GUILESS_MAIN(TestEffectSound)
#include "test_effect_sound.moc"
