#include "WavReader.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More channels, or a higher rate, than a sound server takes.
constexpr int MaxChannels = 32;
constexpr int MaxRate = 384000;

} // namespace

WavReader::~WavReader() {
    if (m_file)
        sf_close(m_file);
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<WavReader> WavReader::openFile(const QString& path) {
    // Only a plain file: a pipe would wait for a writer for good, and a device is no sound.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    // Non-blocking, so that a file swapped for a pipe meanwhile is not waited on either; read only,
    // so that nothing is created.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<WavReader> reader(new WavReader);
    // Closed by the reader, whatever libsndfile makes of the file.
    reader->m_fd = fd;
    SF_INFO info{};
    reader->m_file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (!reader->m_file ||
        !reader->takeInfo(info.format, info.channels, info.samplerate, info.frames))
        return nullptr;
    return reader;
}

std::unique_ptr<WavReader> WavReader::openMemory(const QByteArray& bytes) {
    std::unique_ptr<WavReader> reader(new WavReader);
    reader->m_memory = std::make_unique<Memory>();
    reader->m_memory->bytes = bytes;
    static SF_VIRTUAL_IO io = {
        [](void* m) -> sf_count_t { return static_cast<Memory*>(m)->bytes.size(); },
        [](sf_count_t offset, int whence, void* m) -> sf_count_t {
            auto* memory = static_cast<Memory*>(m);
            const qint64 base = whence == SEEK_CUR   ? memory->pos
                                : whence == SEEK_END ? memory->bytes.size()
                                                     : 0;
            const qint64 to = base + offset;
            if (to < 0 || to > memory->bytes.size())
                return -1;
            return memory->pos = to;
        },
        [](void* out, sf_count_t count, void* m) -> sf_count_t {
            auto* memory = static_cast<Memory*>(m);
            const qint64 n =
                qBound(qint64(0), qint64(count), qint64(memory->bytes.size()) - memory->pos);
            std::memcpy(out, memory->bytes.constData() + memory->pos, size_t(n));
            memory->pos += n;
            return n;
        },
        [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
        [](void* m) -> sf_count_t { return static_cast<Memory*>(m)->pos; },
    };
    SF_INFO info{};
    reader->m_file = sf_open_virtual(&io, SFM_READ, &info, reader->m_memory.get());
    if (!reader->m_file ||
        !reader->takeInfo(info.format, info.channels, info.samplerate, info.frames))
        return nullptr;
    return reader;
}

bool WavReader::takeInfo(int format, int channels, int rate, qint64 frames) {
    const int container = format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX)
        return false;
    if (channels < 1 || channels > MaxChannels || rate < 1 || rate > MaxRate || frames < 0)
        return false;
    m_channels = channels;
    m_rate = rate;
    m_frames = frames;
    return true;
}

qint64 WavReader::durationMs() const {
    return (m_frames * 1000 + m_rate - 1) / m_rate;
}

qint64 WavReader::readFrames(qint16* out, qint64 count) {
    const sf_count_t n = sf_readf_short(m_file, out, count);
    return n > 0 ? n : 0;
}

bool WavReader::rewind() {
    return sf_seek(m_file, 0, SEEK_SET) == 0;
}
