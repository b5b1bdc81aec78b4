// The effect sound through Windows' own PlaySound (under Wine here): the result codes and that a
// sound of ours still playing is not interrupted. Rows that need a sound device skip without one.

#include "EffectSound.h"
#include "WavFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

#include <mmsystem.h>

namespace {
constexpr qint64 kMemoryLimit = 2097152;

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
} // namespace

class TestEffectSoundWinmm : public QObject {
    Q_OBJECT
  private slots:
    void init() { EffectSound::stop(); }
    void cleanupTestCase() { EffectSound::stop(); }
    void results_data();
    void results();
    void soundStillPlayingIsNotInterrupted();

  private:
    QString makeFile(const QString& kind);
    QTemporaryDir m_dir;
};

QString TestEffectSoundWinmm::makeFile(const QString& kind) {
    const QString path = m_dir.filePath(kind + QStringLiteral(".wav"));
    QByteArray bytes;
    if (kind == QLatin1String("missing"))
        return path;
    if (kind == QLatin1String("directory")) {
        QDir().mkpath(path);
        return path;
    }
    if (kind == QLatin1String("tone"))
        bytes = wav::toneWav(2000);
    else if (kind == QLatin1String("junk"))
        bytes = QByteArray(4000, 'x');
    else if (kind == QLatin1String("atLimit"))
        bytes = wav::wavOfSize(kMemoryLimit);
    else if (kind == QLatin1String("overLimit"))
        bytes = wav::wavOfSize(kMemoryLimit + 2).left(kMemoryLimit + 1);
    if (!wav::write(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestEffectSoundWinmm::results_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("synchronous");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("fromMemory");
    QTest::addColumn<bool>("needsDevice");
    QTest::addColumn<int>("code");

    QTest::newRow("sync and loop") << "tone" << true << true << false << false << 2;
    QTest::newRow("sync and loop before size check")
        << "overLimit" << true << true << true << false << 2;
    QTest::newRow("file missing: no default sound")
        << "missing" << false << false << false << false << 4;
    QTest::newRow("file not a WAV") << "junk" << false << false << false << false << 4;
    QTest::newRow("memory one byte over") << "overLimit" << false << false << true << false << 1;
    QTest::newRow("memory missing") << "missing" << false << false << true << false << 3;
    QTest::newRow("memory empty") << "empty" << false << false << true << false << 3;
    QTest::newRow("memory folder") << "directory" << false << false << true << false << 3;
    QTest::newRow("file") << "tone" << false << false << false << true << 0;
    QTest::newRow("file, loop") << "tone" << false << true << false << true << 0;
    QTest::newRow("memory") << "tone" << false << false << true << true << 0;
    QTest::newRow("memory at the limit") << "atLimit" << false << false << true << true << 0;
}

void TestEffectSoundWinmm::results() {
    QFETCH(QString, file);
    QFETCH(bool, synchronous);
    QFETCH(bool, loop);
    QFETCH(bool, fromMemory);
    QFETCH(bool, needsDevice);
    QFETCH(int, code);
    if (needsDevice && waveOutGetNumDevs() == 0)
        QSKIP("no sound device");
    // Wine's PlaySound reports success for a sound file it then cannot play.
    if (code == 4 && underWine())
        QSKIP("Wine does not report a file that cannot play");
    const QString path = makeFile(file);
    QCOMPARE(EffectSound::play(path, synchronous, loop, fromMemory, true), code);
    if (file == QLatin1String("missing"))
        QVERIFY(!QFileInfo::exists(path));
}

void TestEffectSoundWinmm::soundStillPlayingIsNotInterrupted() {
    if (waveOutGetNumDevs() == 0)
        QSKIP("no sound device");
    const QString path = makeFile(QStringLiteral("tone"));
    QCOMPARE(EffectSound::play(path, false, false, false, true), 0);
    QCOMPARE(EffectSound::play(path, false, false, true, false), 4);
    QCOMPARE(EffectSound::play(path, false, false, true, true), 0);
}

QTEST_GUILESS_MAIN(TestEffectSoundWinmm)
#include "test_effect_sound_winmm.moc"
