// Every bark comes out whole: a sound server of the test's own (PulseAudio, or PipeWire with its
// PulseAudio server) plays into a plain null sink, whose monitor parec records at its default
// latency; each bark heard is matched, sample by sample, against the bark's file.

#include "EffectSound.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>
#include <QtEndian>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/prctl.h>

namespace {

constexpr int Rate = 44100; // the bark's own rate, so that a PulseAudio sink copies it unchanged
constexpr int Barks = 6;
constexpr qint64 BarkEveryMs = 2000;
constexpr double WholeAtLeast = 0.95;

// The bark's samples: a mono 16-bit WAV at Rate.
QVector<qint16> readBark(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const qsizetype size = qFromLittleEndian<quint32>(b.constData() + at + 4);
        if (b.mid(at, 4) == "data") {
            const QByteArray data = b.mid(at + 8, size);
            QVector<qint16> samples(data.size() / 2);
            for (qsizetype i = 0; i < samples.size(); ++i)
                samples[i] = qFromLittleEndian<qint16>(data.constData() + 2 * i);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

struct Heard {
    qint64 start;     // sample of the recording
    double matched;   // share of the bark's samples that came out
    qint64 cameOutMs; // how long it sounded before it went wrong or silent
};

// Finds every bark in the recording. A recorded sample matches when it lies within a tolerance of
// the bark's, scaled by the best gain; the tolerance follows the bark's loudness nearby and its
// slope (half a sample of delay), so that a server's resampling passes and a silent tail where the
// bark should go on does not.
QVector<Heard> findBarks(const QVector<qint16>& rec, const QVector<qint16>& bark) {
    const qint64 n = bark.size();
    QVector<double> tolerance(n);
    for (qint64 j = 0; j < n; ++j) {
        int loudest = 0;
        for (qint64 k = qMax<qint64>(0, j - 44); k < qMin(n, j + 45); ++k)
            loudest = qMax(loudest, std::abs(int(bark[k])));
        const int slope = std::abs(bark[qMin(n - 1, j + 1)] - bark[qMax<qint64>(0, j - 1)]) / 2;
        tolerance[j] = 0.1 * loudest + 0.5 * slope;
    }
    QVector<Heard> heard;
    const qint64 head = Rate / 20;
    for (qint64 pos = 0;;) {
        qint64 onset = pos;
        while (onset < rec.size() && std::abs(int(rec[onset])) < 2000)
            ++onset;
        if (onset >= rec.size())
            break;
        // The bark begins loud; its start is where its head lines up best.
        qint64 start = onset;
        double best = -1e300;
        for (qint64 l = qMax(pos, onset - 400); l <= onset + 50; ++l) {
            double dot = 0;
            for (qint64 j = 0; j < head && l + j < rec.size(); ++j)
                dot += double(rec[l + j]) * bark[j];
            if (dot > best) {
                best = dot;
                start = l;
            }
        }
        double cross = 0;
        double self = 0;
        for (qint64 j = 0; j < n && start + j < rec.size(); ++j) {
            cross += double(rec[start + j]) * bark[j];
            self += double(bark[j]) * bark[j];
        }
        const double gain = self > 0 ? cross / self : 0;
        qint64 matched = 0;
        qint64 cameOut = -1;
        const qint64 block = Rate / 100;
        for (qint64 b = 0; b < n; b += block) {
            qint64 good = 0;
            const qint64 end = qMin(n, b + block);
            for (qint64 j = b; j < end; ++j) {
                if (start + j < rec.size() && std::abs(rec[start + j] - gain * bark[j]) <=
                                                  16.0 + std::abs(gain) * tolerance[j])
                    ++good;
            }
            matched += good;
            if (cameOut < 0 && good * 2 < end - b)
                cameOut = b;
        }
        heard.append(
            {start, double(matched) / double(n), (cameOut < 0 ? n : cameOut) * 1000 / Rate});
        pos = start + n;
    }
    return heard;
}

// Child processes die with the test, even when it crashes.
void dieWithParent(QProcess& p) {
    p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace

class TestEffectSoundWholeBark : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup();
    void everyBarkIsWhole_data();
    void everyBarkIsWhole();

  private:
    // Starts a program of the sound server's, its output on stderr; false when it is missing.
    bool spawn(const QString& program, const QStringList& args = {});
    bool pactl(const QStringList& args);
    bool startPulseAudio();
    bool startPipeWire();

    QVector<qint16> m_bark;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void TestEffectSoundWholeBark::initTestCase() {
    m_bark = readBark(QStringLiteral(MOKOPON_SOURCE_DIR "/assets/Sound/Kouka.wav"));
    QCOMPARE(m_bark.size(), 18522);
}

void TestEffectSoundWholeBark::cleanup() {
    EffectSound::stop();
    // The last started goes first: the recorder, then the server's programs.
    while (!m_processes.empty()) {
        QProcess& p = *m_processes.back();
        p.terminate();
        if (!p.waitForFinished(5000))
            p.kill();
        m_processes.pop_back();
    }
    m_dir.reset();
}

bool TestEffectSoundWholeBark::spawn(const QString& program, const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    dieWithParent(*p);
    p->setProcessEnvironment(m_env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(program, args);
    if (!p->waitForStarted(5000))
        return false;
    m_processes.push_back(std::move(p));
    return true;
}

bool TestEffectSoundWholeBark::pactl(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(m_env);
    p.start(QStringLiteral("pactl"), args);
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool TestEffectSoundWholeBark::startPulseAudio() {
    // -n: no default script; a server run as root needs no --system for this, only warns.
    return spawn(QStringLiteral("pulseaudio"),
                 {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                  QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                  QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                  QStringLiteral("module-null-sink sink_name=mokosink"), QStringLiteral("-L"),
                  QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") +
                      m_dir->filePath(QStringLiteral("pulse/native"))});
}

bool TestEffectSoundWholeBark::startPipeWire() {
    // Its own session bus, which the session manager needs.
    if (!spawn(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")}))
        return false;
    QProcess& bus = *m_processes.back();
    if (!bus.canReadLine() && !bus.waitForReadyRead(5000))
        return false;
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QString::fromLocal8Bit(bus.readLine()).trimmed());
    return spawn(QStringLiteral("pipewire")) && spawn(QStringLiteral("wireplumber")) &&
           spawn(QStringLiteral("pipewire-pulse"));
}

void TestEffectSoundWholeBark::everyBarkIsWhole_data() {
    QTest::addColumn<bool>("pipeWire");
    QTest::newRow("PulseAudio") << false;
    QTest::newRow("PipeWire") << true;
}

void TestEffectSoundWholeBark::everyBarkIsWhole() {
    QFETCH(bool, pipeWire);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString dir = m_dir->path();
    // Every client of this test, the code under test included, talks to this server only.
    m_env = QProcessEnvironment::systemEnvironment();
    const QString server = QStringLiteral("unix:") + dir + QStringLiteral("/pulse/native");
    for (const auto& [name, value] :
         {std::pair{"PULSE_SERVER", server}, std::pair{"XDG_RUNTIME_DIR", dir},
          std::pair{"PULSE_RUNTIME_PATH", dir + QStringLiteral("/pulse")},
          std::pair{"PULSE_STATE_PATH", dir + QStringLiteral("/state")}, std::pair{"HOME", dir}}) {
        m_env.insert(QString::fromLatin1(name), value);
        qputenv(name, value.toLocal8Bit());
    }
    QVERIFY(pipeWire ? startPipeWire() : startPulseAudio());
    QElapsedTimer t;
    t.start();
    while (!pactl({QStringLiteral("info")})) {
        QVERIFY2(t.elapsed() < 15000, "the sound server did not answer");
        QTest::qWait(100);
    }
    if (pipeWire)
        QVERIFY(pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                       QStringLiteral("sink_name=mokosink")}));

    QVERIFY(spawn(QStringLiteral("parec"),
                  {QStringLiteral("-d"), QStringLiteral("mokosink.monitor"),
                   QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                   QStringLiteral("--rate=%1").arg(Rate), QStringLiteral("--channels=1")}));
    QProcess& recorder = *m_processes.back();
    QByteArray raw;
    // Recording has begun once the monitor delivers (silent) samples.
    QTRY_VERIFY_WITH_TIMEOUT(!(raw += recorder.readAllStandardOutput()).isEmpty(), 10000);

    // As the companion barks: a stop request, then the sound, every two seconds.
    const QString kouka = QStringLiteral(MOKOPON_SOURCE_DIR "/assets/Sound/Kouka.wav");
    QVector<qint64> playedAt;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Barks; ++i) {
        QTest::qWait(int(qMax<qint64>(0, i * BarkEveryMs - clock.elapsed())));
        playedAt.append(clock.elapsed());
        EffectSound::play(QString(), false, false, false, true);
        QCOMPARE(EffectSound::play(kouka, false, false, false, false), 0);
    }

    // Until the last bark and a second after it have come through the recorder's latency.
    QVector<qint16> rec;
    QVector<Heard> heard;
    t.restart();
    for (;;) {
        raw += recorder.readAllStandardOutput();
        rec.resize(raw.size() / 2);
        std::memcpy(rec.data(), raw.constData(), size_t(rec.size()) * 2);
        heard = findBarks(rec, m_bark);
        if ((heard.size() >= Barks && rec.size() > heard.last().start + m_bark.size() + Rate) ||
            t.elapsed() > 10000)
            break;
        QTest::qWait(200);
    }

    QStringList figures;
    for (qsizetype i = 0; i < heard.size(); ++i) {
        const qint64 gapMs = i ? (heard[i].start - heard[i - 1].start) * 1000 / Rate : 0;
        figures << QStringLiteral("bark %1: %2 % matched, sounded %3 ms, %4 ms after the last")
                       .arg(i + 1)
                       .arg(heard[i].matched * 100, 0, 'f', 1)
                       .arg(heard[i].cameOutMs)
                       .arg(gapMs);
    }
    const QString report = figures.join(QLatin1Char('\n'));
    qInfo("%s", qPrintable(report));

    QVERIFY2(heard.size() == Barks, qPrintable(report));
    for (qsizetype i = 0; i < heard.size(); ++i) {
        QVERIFY2(heard[i].matched >= WholeAtLeast, qPrintable(report));
        if (i == 0)
            continue;
        // As far apart as they were played, give or take a loaded machine's scheduling.
        const qint64 gapMs = (heard[i].start - heard[i - 1].start) * 1000 / Rate;
        QVERIFY2(std::abs(gapMs - (playedAt[i] - playedAt[i - 1])) < 400, qPrintable(report));
    }
}

QTEST_GUILESS_MAIN(TestEffectSoundWholeBark)
#include "test_effect_sound_whole_bark.moc"
