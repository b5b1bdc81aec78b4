#pragma once
// The sound output on Linux: one playback stream to the sound server (PulseAudio, or PipeWire's
// server for its clients) over its native protocol, on a thread of its own, which pulls the
// samples from the decoder as the server asks for them. A thread of its own keeps the sound going
// while the user-interface thread is busy, and lets a synchronous play block that thread.

#include "PcmSource.h"
#include "SoundOutput.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PulseOutput : public SoundOutput {
  public:
    PulseOutput();
    ~PulseOutput() override;

    std::unique_ptr<Sound> openFile(const QString& path) override;
    std::unique_ptr<Sound> openMemory(const QByteArray& bytes) override;
    bool start(std::unique_ptr<Sound> sound, bool loop) override;
    void stopAll() override;
    bool isPlaying() override;
    bool waitFinished(qint64 timeoutMs) override;
    void shutdown() override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Order {
        enum Kind { Start, Stop, Quit } kind;
        std::unique_ptr<PcmSource> source;
        quint64 number = 0;
    };

    // The caller's side: hands an order to the thread and waits until it is carried out.
    quint64 send(Order order);
    bool waitDone(quint64 number, qint64 timeoutMs);

    // All below run on the output's thread.
    void run();
    bool carryOut(Order& order);
    void beginSound(std::unique_ptr<PcmSource> source, quint64 order);
    bool connectServer();
    void receive();
    void onPacket(quint32 channel, const QByteArray& payload);
    void onAnswer(quint32 cmd, quint32 tag, const QByteArray& payload);
    void createStream();
    void feed();
    void flush();
    void endStream();
    void disconnect();
    void startAnswered(bool ok);
    void setPlaying(bool playing);

    std::thread m_thread;
    int m_wake = -1;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex.
    std::deque<Order> m_orders;
    quint64 m_lastOrder = 0;
    quint64 m_doneOrder = 0;
    bool m_started = false;
    bool m_playing = false;

    // The thread's own.
    int m_socket = -1;
    bool m_authorized = false;
    QByteArray m_in;
    QByteArray m_out;
    quint32 m_nextTag = 0;
    std::optional<quint32> m_authTag;
    std::optional<quint32> m_createTag;
    // Streams asked for and then given up before the server answered: deleted when it does.
    std::vector<quint32> m_abandoned;
    std::optional<quint32> m_drainTag;
    // The start order waiting for its stream, if any.
    quint64 m_startOrder = 0;
    std::optional<quint32> m_channel;
    qint64 m_requested = 0;
    std::unique_ptr<PcmSource> m_source;
    bool m_draining = false;
    std::optional<Clock::time_point> m_answerBy;
    std::optional<Clock::time_point> m_releaseAt;
};
