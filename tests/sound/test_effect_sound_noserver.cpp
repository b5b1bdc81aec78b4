// With no sound server to reach there is no output device: the effect sound reports the output's
// error at once instead of playing nothing silently or waiting. A server that hangs up, or never
// answers, is refused the same way, within the output's bound.

#include "EffectSound.h"
#include "WavFixture.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// A server on a local socket that takes the connection and reads the client's first packet, then
// says nothing until it is stopped; with close set it hangs up instead.
class FakeServer {
  public:
    FakeServer(const QString& path, bool close) {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 1);
        m_thread = std::thread([this, close] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            m_accepted = true;
            char first[512];
            [[maybe_unused]] const ssize_t n = ::recv(fd, first, sizeof first, 0);
            while (!close && !m_stop)
                QThread::msleep(20);
            ::close(fd);
        });
    }
    ~FakeServer() {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    bool accepted() const { return m_accepted; }

  private:
    int m_listen = -1;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_accepted = false;
    std::thread m_thread;
};

} // namespace

class TestEffectSoundNoServer : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void playFails_data();
    void playFails();
    void wrongServerFails_data();
    void wrongServerFails();

  private:
    QTemporaryDir m_dir;
};

void TestEffectSoundNoServer::initTestCase() {
    QVERIFY(m_dir.isValid());
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

void TestEffectSoundNoServer::wrongServerFails_data() {
    QTest::addColumn<bool>("close");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("hangs up") << true << 3000;
    QTest::newRow("never answers") << false << 7000;
}

void TestEffectSoundNoServer::wrongServerFails() {
    QFETCH(bool, close);
    QFETCH(int, withinMs);
    const QString path = m_dir.filePath(
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-')));
    FakeServer server(path, close);
    qputenv("PULSE_SERVER", ("unix:" + path).toLocal8Bit());
    QElapsedTimer t;
    t.start();
    EffectSound::stop();
    QCOMPARE(
        EffectSound::play(m_dir.filePath(QStringLiteral("tone.wav")), false, false, false, false),
        4);
    QVERIFY2(t.elapsed() < withinMs, qPrintable(QString::number(t.elapsed())));
    QVERIFY(server.accepted());
}

QTEST_GUILESS_MAIN(TestEffectSoundNoServer)
#include "test_effect_sound_noserver.moc"
