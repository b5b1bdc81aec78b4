// The effect sound through the real output: a PulseAudio server of the test's own with a null
// sink, whose monitor is recorded to hear what came out.

#include "EffectSound.h"
#include "WavFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int RecordRate = 8000; // mono s16le
constexpr double Loud = 3000.0;  // RMS; the test tone is about 11,500
constexpr double Silent = 50.0;

// Child processes die with the test, even when it crashes.
void dieWithParent(QProcess& p) {
    p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace

class TestEffectSoundPulse : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loopPlaysUntilStopped();
    void synchronousReturnsWhenTheSoundHasEnded();
    void secondPlayWhilePlayingIsRefused();
    void quickStopAndPlayKeepsWorking();
    void serverIsLetGoAfterTheSound();
    void serverGoneIsAnError();

  private:
    bool pactlOk();
    static QString pactl(const QString& list);
    // Recorded samples so far; each is 1/8000 s.
    qint64 mark();
    double rms(qint64 from, qint64 to) const;
    static qint64 ms(qint64 millis) { return millis * RecordRate / 1000; }

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_recorder;
    QByteArray m_recorded;
    QString m_tone;
};

QString TestEffectSoundPulse::pactl(const QString& list) {
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), list});
    p.waitForFinished(5000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

bool TestEffectSoundPulse::pactlOk() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit &&
           pactl.exitCode() == 0;
}

void TestEffectSoundPulse::initTestCase() {
    QVERIFY(m_dir.isValid());
    const QString dir = m_dir.path();
    const QString socket = dir + QStringLiteral("/native");
    // Every client of this test, the code under test included, talks to this server only.
    qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", (dir + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("PULSE_STATE_PATH", (dir + QStringLiteral("/state")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
    qputenv("HOME", dir.toLocal8Bit());

    // -n: no default script; a server run as root needs no --system for this, only warns.
    dieWithParent(m_server);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(
        QStringLiteral("pulseaudio"),
        {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
         QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
         QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-level=error"),
         QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=mokosink"),
         QStringLiteral("-L"),
         QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket});
    QVERIFY2(m_server.waitForStarted(5000), "pulseaudio could not be started");
    QElapsedTimer t;
    t.start();
    while (!pactlOk()) {
        QVERIFY2(m_server.state() == QProcess::Running, "pulseaudio ended at start");
        QVERIFY2(t.elapsed() < 15000, "pulseaudio did not answer");
        QTest::qWait(100);
    }

    m_tone = m_dir.filePath(QStringLiteral("tone.wav"));
    QVERIFY(wav::write(m_tone, wav::toneWav(400)));
}

void TestEffectSoundPulse::cleanupTestCase() {
    EffectSound::stop();
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
}

void TestEffectSoundPulse::init() {
    m_recorded.clear();
    dieWithParent(m_recorder);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("-d"), QStringLiteral("mokosink.monitor"),
                      QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                      QStringLiteral("--rate=%1").arg(RecordRate), QStringLiteral("--channels=1"),
                      QStringLiteral("--latency-msec=20")});
    QVERIFY(m_recorder.waitForStarted(5000));
    // Recording has begun once the monitor delivers (silent) samples.
    QTRY_VERIFY_WITH_TIMEOUT(mark() > ms(100), 5000);
}

void TestEffectSoundPulse::cleanup() {
    EffectSound::stop();
    m_recorder.terminate();
    if (!m_recorder.waitForFinished(5000))
        m_recorder.kill();
}

qint64 TestEffectSoundPulse::mark() {
    m_recorded += m_recorder.readAllStandardOutput();
    return m_recorded.size() / 2;
}

double TestEffectSoundPulse::rms(qint64 from, qint64 to) const {
    const auto* s = reinterpret_cast<const qint16*>(m_recorded.constData());
    to = qMin<qint64>(to, m_recorded.size() / 2);
    if (to <= from)
        return -1.0;
    double sum = 0;
    for (qint64 i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(to - from));
}

void TestEffectSoundPulse::loopPlaysUntilStopped() {
    const qint64 start = mark();
    QCOMPARE(EffectSound::play(m_tone, false, true, false, false), 0);
    QTest::qWait(1500); // well past the 400 ms of the sound
    const qint64 stop = mark();
    EffectSound::stop();
    QTest::qWait(700);
    const qint64 end = mark();

    // Loud in every stretch from the start to the stop: the loop has no holes.
    for (qint64 at = start + ms(250); at + ms(200) <= stop - ms(100); at += ms(200))
        QVERIFY2(rms(at, at + ms(200)) > Loud, qPrintable(QString::number(rms(at, at + ms(200)))));
    const double after = rms(stop + ms(300), end);
    QVERIFY2(after >= 0 && after < Silent, qPrintable(QString::number(after)));
}

void TestEffectSoundPulse::synchronousReturnsWhenTheSoundHasEnded() {
    const QString path = m_dir.filePath(QStringLiteral("sync.wav"));
    QVERIFY(wav::write(path, wav::toneWav(700, 2, 48000)));
    const qint64 start = mark();
    QElapsedTimer t;
    t.start();
    QCOMPARE(EffectSound::play(path, true, false, false, false), 0);
    const qint64 took = t.elapsed();
    QVERIFY2(took >= 650 && took < 700 + 2000, qPrintable(QString::number(took)));
    QTest::qWait(500);
    const qint64 end = mark();

    QVERIFY(rms(start + ms(200), start + ms(550)) > Loud);
    QVERIFY(rms(end - ms(200), end) < Silent);
    // Ended, not merely returned: a new sound needs no stop request.
    QCOMPARE(EffectSound::play(m_tone, false, false, false, false), 0);
}

void TestEffectSoundPulse::secondPlayWhilePlayingIsRefused() {
    QCOMPARE(EffectSound::play(m_tone, false, true, false, false), 0);
    QTest::qWait(100);
    QCOMPARE(EffectSound::play(m_tone, false, false, false, false), 4);
    QCOMPARE(EffectSound::play(m_tone, false, false, true, false), 4);
    // The stop request that the program's callers send first.
    QCOMPARE(EffectSound::play(m_tone, false, false, false, true), 0);
}

void TestEffectSoundPulse::quickStopAndPlayKeepsWorking() {
    // A barking companion sends a stop request and a new sound again and again; stale reports of
    // an earlier stream must not end or confuse the current one.
    for (int i = 0; i < 30; ++i) {
        QCOMPARE(EffectSound::play(m_tone, false, i % 2 == 0, i % 3 == 0, true), 0);
        QTest::qWait(i % 5 * 10);
    }
    const qint64 start = mark();
    QCOMPARE(EffectSound::play(m_tone, false, true, false, true), 0);
    QTest::qWait(800);
    const qint64 stop = mark();
    EffectSound::stop();
    QTest::qWait(500);
    QVERIFY(rms(start + ms(250), stop - ms(50)) > Loud);
    QVERIFY(rms(stop + ms(250), mark()) < Silent);
}

// A bark every second keeps its connection; a character that has stopped barking holds no
// stream and no connection to the server.
void TestEffectSoundPulse::serverIsLetGoAfterTheSound() {
    const QString me = QCoreApplication::applicationName();
    QCOMPARE(EffectSound::play(m_tone, true, false, false, true), 0);
    QVERIFY(pactl(QStringLiteral("clients")).contains(me));
    QTRY_VERIFY_WITH_TIMEOUT(pactl(QStringLiteral("sink-inputs")).trimmed().isEmpty() &&
                                 !pactl(QStringLiteral("clients")).contains(me),
                             5000);
    // And it comes back for the next sound.
    QCOMPARE(EffectSound::play(m_tone, false, false, false, true), 0);
}

void TestEffectSoundPulse::serverGoneIsAnError() {
    m_server.terminate();
    QVERIFY(m_server.waitForFinished(5000));
    QTest::qWait(300);
    QElapsedTimer t;
    t.start();
    QCOMPARE(EffectSound::play(m_tone, false, false, false, false), 4);
    QVERIFY(t.elapsed() < 5000);
}

QTEST_GUILESS_MAIN(TestEffectSoundPulse)
#include "test_effect_sound_pulse.moc"
