#include "PulseOutput.h"

#include "PulseProtocol.h"
#include "WavFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace PulseProtocol;

namespace {

// How long a finished stream, and the connection to the server, stay open: the server still plays
// what it holds when it reports the stream drained, and a bark every second keeps its connection.
constexpr auto ReleaseAfter = std::chrono::milliseconds(2000);
// Longest wait for the server to accept the connection or a stream; one that hangs is refused.
constexpr auto AnswerWithin = std::chrono::milliseconds(5000);
// What the server buffers ahead: a sound starts as soon as it is full, and a stop deletes the
// stream at once, so only a busy machine's hiccups care how long it is.
constexpr qint64 BufferMs = 250;
// Samples are sent in pieces of at most this, and no more are made while this much waits for the
// socket, whatever the server asks for.
constexpr qint64 PieceBytes = 64 * 1024;
constexpr qint64 QueuedAtMost = 256 * 1024;

QString environment(const char* name) {
    return qEnvironmentVariable(name);
}

} // namespace

PulseOutput::PulseOutput() = default;

PulseOutput::~PulseOutput() {
    shutdown();
}

std::unique_ptr<Sound> PulseOutput::openFile(const QString& path) {
    return WavFile::openFile(path);
}

std::unique_ptr<Sound> PulseOutput::openMemory(const QByteArray& bytes) {
    return WavFile::openMemory(bytes);
}

bool PulseOutput::start(std::unique_ptr<Sound> sound, bool loop) {
    // Every sound this output plays, it opened itself.
    auto source = std::make_unique<PcmSource>(
        std::unique_ptr<WavFile>(static_cast<WavFile*>(sound.release())), loop);
    const int channels = source->sound().channels();
    const int rate = source->sound().sampleRate();
    if (channels < 1 || channels > MaxChannels || rate < 1 || quint32(rate) > MaxRate)
        return false;

    if (!m_thread.joinable()) {
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wake < 0)
            return false;
        m_thread = std::thread([this] { run(); });
    }
    const quint64 number = send({Order::Start, std::move(source)});
    if (!waitDone(number, (AnswerWithin + std::chrono::seconds(1)).count()))
        return false;
    std::lock_guard lock(m_mutex);
    return m_started;
}

void PulseOutput::stopAll() {
    if (m_thread.joinable())
        waitDone(send({Order::Stop, nullptr}), 2000);
}

bool PulseOutput::isPlaying() {
    std::lock_guard lock(m_mutex);
    return m_playing;
}

bool PulseOutput::waitFinished(qint64 timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !m_playing; });
}

void PulseOutput::shutdown() {
    if (!m_thread.joinable())
        return;
    send({Order::Quit, nullptr});
    m_thread.join();
    ::close(m_wake);
    m_wake = -1;
    std::lock_guard lock(m_mutex);
    m_orders.clear();
    m_playing = false;
}

quint64 PulseOutput::send(Order order) {
    quint64 number;
    {
        std::lock_guard lock(m_mutex);
        number = order.number = ++m_lastOrder;
        m_orders.push_back(std::move(order));
    }
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    return number;
}

bool PulseOutput::waitDone(quint64 number, qint64 timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_doneOrder >= number; });
}

void PulseOutput::run() {
    for (;;) {
        for (;;) {
            Order order;
            {
                std::lock_guard lock(m_mutex);
                if (m_orders.empty())
                    break;
                order = std::move(m_orders.front());
                m_orders.pop_front();
            }
            if (!carryOut(order))
                return;
        }

        const Clock::time_point now = Clock::now();
        if (m_answerBy && now >= *m_answerBy)
            disconnect();
        if (m_releaseAt && now >= *m_releaseAt) {
            endStream();
            disconnect();
        }
        qint64 timeoutMs = -1;
        for (const auto& at : {m_answerBy, m_releaseAt}) {
            if (!at)
                continue;
            const qint64 ms =
                qMax<qint64>(0, std::chrono::ceil<std::chrono::milliseconds>(*at - now).count());
            timeoutMs = timeoutMs < 0 ? ms : qMin(timeoutMs, ms);
        }

        pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_socket, POLLIN, 0}};
        if (!m_out.isEmpty())
            fds[1].events |= POLLOUT;
        const int n = ::poll(fds, m_socket >= 0 ? 2 : 1, int(qMin<qint64>(timeoutMs, 60000)));
        if (n < 0 && errno != EINTR)
            return;
        if (n <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            quint64 count;
            [[maybe_unused]] const ssize_t r = ::read(m_wake, &count, sizeof count);
        }
        if (m_socket >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            receive();
        if (m_socket >= 0 && (fds[1].revents & POLLOUT)) {
            flush();
            feed();
        }
    }
}

// False for the order to end the thread.
bool PulseOutput::carryOut(Order& order) {
    bool done = true;
    switch (order.kind) {
    case Order::Start:
        beginSound(std::move(order.source), order.number);
        done = false;
        break;
    case Order::Stop:
        endStream();
        setPlaying(false);
        if (m_socket >= 0)
            m_releaseAt = Clock::now() + ReleaseAfter;
        break;
    case Order::Quit:
        disconnect();
        break;
    }
    if (done) {
        std::lock_guard lock(m_mutex);
        m_doneOrder = qMax(m_doneOrder, order.number);
    }
    m_changed.notify_all();
    return order.kind != Order::Quit;
}

void PulseOutput::beginSound(std::unique_ptr<PcmSource> source, quint64 order) {
    // Whatever played, or waited for its stream, is over: only one sound plays.
    endStream();
    m_startOrder = order;
    m_releaseAt.reset();
    // Playing from here on: a short sound may be written and drained before the caller hears of
    // its start.
    setPlaying(true);
    m_source = std::move(source);
    m_draining = false;
    if (m_socket < 0) {
        // A connection the server dropped is made anew; no server refuses the sound.
        if (!connectServer()) {
            disconnect();
            return;
        }
    } else if (m_authorized) {
        createStream();
    }
    m_answerBy = Clock::now() + AnswerWithin;
}

bool PulseOutput::connectServer() {
    const QStringList sockets =
        serverSockets(environment("PULSE_SERVER"), environment("PULSE_RUNTIME_PATH"),
                      environment("XDG_RUNTIME_DIR"));
    for (const QString& path : sockets) {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.size() >= qsizetype(sizeof address.sun_path))
            continue;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            m_socket = fd;
            break;
        }
        ::close(fd);
    }
    if (m_socket < 0)
        return false;

    const QString home = QDir::homePath();
    QString config = environment("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = home + QLatin1String("/.config");
    const QByteArray key =
        cookie({environment("PULSE_COOKIE"), config + QLatin1String("/pulse/cookie"),
                home + QLatin1String("/.pulse-cookie")});
    m_authTag = m_nextTag++;
    const QByteArray auth = command(Auth, *m_authTag, Fields().u32(Version).arbitrary(key));

    // The credentials go with the first packet: a server knows its own user by them.
    iovec part{const_cast<char*>(auth.constData()), size_t(auth.size())};
    union {
        cmsghdr header;
        char space[CMSG_SPACE(sizeof(ucred))];
    } control{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.space;
    message.msg_controllen = sizeof control.space;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_CREDENTIALS;
    header->cmsg_len = CMSG_LEN(sizeof(ucred));
    const ucred me{::getpid(), ::getuid(), ::getgid()};
    std::memcpy(CMSG_DATA(header), &me, sizeof me);
    const ssize_t sent = ::sendmsg(m_socket, &message, MSG_NOSIGNAL);
    if (sent < 0)
        return false;
    m_out = auth.mid(sent);
    return true;
}

void PulseOutput::receive() {
    char buffer[16 * 1024];
    const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // The server went away: the sound has ended.
        disconnect();
        return;
    }
    m_in.append(buffer, n);
    while (m_in.size() >= DescriptorBytes) {
        const Descriptor d = readDescriptor(m_in.constData());
        if (d.length > MaxPacketBytes) {
            disconnect();
            return;
        }
        if (m_in.size() < DescriptorBytes + qsizetype(d.length))
            return;
        const QByteArray payload = m_in.mid(DescriptorBytes, d.length);
        m_in.remove(0, DescriptorBytes + d.length);
        onPacket(d.channel, payload);
        if (m_socket < 0)
            return;
    }
}

void PulseOutput::onPacket(quint32 channel, const QByteArray& payload) {
    // Samples come only for recording, which we never ask for.
    if (channel != CommandChannel)
        return;
    FieldReader fields(payload);
    quint32 cmd = 0;
    quint32 tag = 0;
    if (!fields.u32(&cmd) || !fields.u32(&tag)) {
        disconnect();
        return;
    }
    quint32 stream = 0;
    quint32 bytes = 0;
    switch (cmd) {
    case Reply:
    case Error:
        onAnswer(cmd, tag, payload);
        break;
    case Request:
        if (fields.u32(&stream) && fields.u32(&bytes) && m_channel && stream == *m_channel) {
            m_requested = qMin<qint64>(m_requested + bytes, 16 * 1024 * 1024);
            feed();
        }
        break;
    case PlaybackStreamKilled:
        if (fields.u32(&stream) && m_channel && stream == *m_channel) {
            m_channel.reset();
            endStream();
            setPlaying(false);
            m_releaseAt = Clock::now() + ReleaseAfter;
        }
        break;
    default:
        // Notices about the stream (underflow, moved, suspended): nothing to do for one sound.
        break;
    }
}

void PulseOutput::onAnswer(quint32 cmd, quint32 tag, const QByteArray& payload) {
    FieldReader fields(payload);
    quint32 skip = 0;
    fields.u32(&skip);
    fields.u32(&skip);
    if (tag == m_authTag) {
        m_authTag.reset();
        quint32 version = 0;
        if (cmd == Error || !fields.u32(&version) || (version & VersionMask) < Version) {
            disconnect();
            return;
        }
        m_authorized = true;
        QByteArray name = QCoreApplication::applicationName().toUtf8();
        if (name.isEmpty())
            name = "mokopon";
        m_out += command(
            SetClientName, m_nextTag++,
            Fields().properties({{"application.name", name},
                                 {"application.process.id", QByteArray::number(::getpid())},
                                 {"application.process.binary", program_invocation_short_name}}));
        if (m_source)
            createStream();
        else
            m_answerBy.reset();
        flush();
    } else if (tag == m_createTag) {
        m_createTag.reset();
        m_answerBy.reset();
        quint32 channel = 0;
        quint32 sinkInput = 0;
        quint32 missing = 0;
        const bool ok =
            cmd == Reply && fields.u32(&channel) && fields.u32(&sinkInput) && fields.u32(&missing);
        if (!ok) {
            m_source.reset();
            startAnswered(false);
            setPlaying(false);
            m_releaseAt = Clock::now() + ReleaseAfter;
            return;
        }
        m_channel = channel;
        m_requested = missing;
        startAnswered(true);
        feed();
    } else if (tag == m_drainTag) {
        // Ended either way; the stream goes a short while later, or with the next sound.
        m_drainTag.reset();
        setPlaying(false);
        m_releaseAt = Clock::now() + ReleaseAfter;
    } else if (const auto it = std::find(m_abandoned.begin(), m_abandoned.end(), tag);
               it != m_abandoned.end()) {
        // A stream stopped while the server made it.
        m_abandoned.erase(it);
        quint32 channel = 0;
        if (cmd == Reply && fields.u32(&channel)) {
            m_out += command(DeletePlaybackStream, m_nextTag++, Fields().u32(channel));
            flush();
        }
    }
}

void PulseOutput::createStream() {
    const WavFile& sound = m_source->sound();
    const int channels = sound.channels();
    const quint32 rate = quint32(sound.sampleRate());
    const quint32 bufferBytes = quint32(qint64(rate) * channels * 2 * BufferMs / 1000);
    const quint32 serverChooses = 0xFFFFFFFF;
    Fields fields;
    fields.sampleSpec(SampleS16LE, quint8(channels), rate)
        .channelMap(waveChannelMap(channels))
        .u32(serverChooses) // sink: the default one
        .nullString()
        .u32(serverChooses) // most it holds
        .boolean(false)     // started at once, not corked
        .u32(bufferBytes)
        .u32(serverChooses) // how much before it starts: a full buffer
        .u32(serverChooses) // least it asks for
        .u32(0)             // synchronised with no other stream
        .volume(channels, VolumeNormal);
    // No remapping, no remixing, fixed format, rate or channels, move or variable rate.
    for (int i = 0; i < 7; ++i)
        fields.boolean(false);
    fields
        .boolean(false) // not muted
        .boolean(true)  // latency adjusted to the buffer
        .properties({{"media.name", "effect sound"}});
    m_createTag = m_nextTag++;
    m_out += command(CreatePlaybackStream, *m_createTag, fields);
    flush();
}

void PulseOutput::feed() {
    if (!m_channel || !m_source || m_socket < 0)
        return;
    const qint64 frame = 2 * qint64(m_source->sound().channels());
    while (m_requested > 0 && !m_source->atEnd() && m_out.size() < QueuedAtMost) {
        qint64 want = qMin(m_requested, PieceBytes);
        want = qMax(frame, want - want % frame);
        QByteArray samples(want, Qt::Uninitialized);
        const qint64 got = m_source->read(samples.data(), want);
        if (got <= 0)
            break;
        samples.truncate(got);
        m_out += packet(*m_channel, samples);
        m_requested -= got;
    }
    const bool allSent =
        m_source->atEnd() || (!m_source->loops() && m_source->bytesAvailable() == 0);
    if (allSent && !m_draining) {
        // All is handed over: start even a sound shorter than the buffer, and hear when it ends.
        m_draining = true;
        m_out += command(TriggerPlaybackStream, m_nextTag++, Fields().u32(*m_channel));
        m_drainTag = m_nextTag++;
        m_out += command(DrainPlaybackStream, *m_drainTag, Fields().u32(*m_channel));
    }
    flush();
}

void PulseOutput::flush() {
    while (m_socket >= 0 && !m_out.isEmpty()) {
        const ssize_t n = ::send(m_socket, m_out.constData(), size_t(m_out.size()), MSG_NOSIGNAL);
        if (n > 0) {
            m_out.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            disconnect();
            return;
        }
    }
}

void PulseOutput::endStream() {
    if (m_channel && m_socket >= 0) {
        // Deleting takes the stream off the output at once: the stop is immediate.
        m_out += command(DeletePlaybackStream, m_nextTag++, Fields().u32(*m_channel));
        flush();
    }
    if (m_createTag) {
        m_abandoned.push_back(*m_createTag);
        m_createTag.reset();
        if (!m_authTag)
            m_answerBy.reset();
    }
    m_channel.reset();
    m_source.reset();
    m_requested = 0;
    m_draining = false;
    m_drainTag.reset();
    if (m_startOrder)
        startAnswered(false);
}

void PulseOutput::disconnect() {
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_authorized = false;
    m_in.clear();
    m_out.clear();
    m_authTag.reset();
    m_createTag.reset();
    m_abandoned.clear();
    m_channel.reset();
    m_answerBy.reset();
    m_releaseAt.reset();
    endStream();
    setPlaying(false);
}

void PulseOutput::startAnswered(bool ok) {
    {
        std::lock_guard lock(m_mutex);
        m_started = ok;
        m_doneOrder = qMax(m_doneOrder, m_startOrder);
    }
    m_startOrder = 0;
    m_changed.notify_all();
}

void PulseOutput::setPlaying(bool playing) {
    {
        std::lock_guard lock(m_mutex);
        m_playing = playing;
    }
    m_changed.notify_all();
}
