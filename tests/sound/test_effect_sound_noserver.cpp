// With no sound server to reach there is no output device: the effect sound reports the output's
// error at once instead of playing nothing silently or waiting.

#include "EffectSound.h"
#include "WavFixture.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

class TestEffectSoundNoServer : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void playFails_data();
    void playFails();

  private:
    QTemporaryDir m_dir;
};

void TestEffectSoundNoServer::initTestCase() {
    QVERIFY(m_dir.isValid());
    EffectSound::setModuleFolder(QStringLiteral(MOKOPON_BIN_DIR));
    // A server address where nothing listens; no other server is looked for.
    qputenv("PULSE_SERVER", ("unix:" + m_dir.filePath(QStringLiteral("none"))).toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", m_dir.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", m_dir.path().toLocal8Bit());
    qputenv("HOME", m_dir.path().toLocal8Bit());
    QVERIFY(wav::write(m_dir.filePath(QStringLiteral("tone.wav")), wav::toneWav(300)));
}

void TestEffectSoundNoServer::playFails_data() {
    QTest::addColumn<bool>("synchronous");
    QTest::addColumn<bool>("fromMemory");
    QTest::newRow("async, file") << false << false;
    QTest::newRow("sync, file") << true << false;
    QTest::newRow("async, memory") << false << true;
}

void TestEffectSoundNoServer::playFails() {
    QFETCH(bool, synchronous);
    QFETCH(bool, fromMemory);
    QElapsedTimer t;
    t.start();
    EffectSound::stop();
    QCOMPARE(EffectSound::play(m_dir.filePath(QStringLiteral("tone.wav")), synchronous, false,
                               fromMemory, false),
             4);
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TestEffectSoundNoServer)
#include "test_effect_sound_noserver.moc"
