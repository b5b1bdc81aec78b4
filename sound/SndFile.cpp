#include "SndFile.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

using Memory = SndFile::Memory;

sf_count_t memLength(void* user) {
    return static_cast<Memory*>(user)->bytes.size();
}

sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Memory*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = m->pos;
    else if (whence == SEEK_END)
        base = m->bytes.size();
    const sf_count_t target = base + offset;
    if (target < 0 || target > m->bytes.size())
        return -1;
    m->pos = target;
    return m->pos;
}

sf_count_t memRead(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, sf_count_t(m->bytes.size()) - m->pos);
    std::memcpy(ptr, m->bytes.constData() + m->pos, size_t(n));
    m->pos += n;
    return n;
}

sf_count_t memWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memTell(void* user) {
    return static_cast<Memory*>(user)->pos;
}

SF_VIRTUAL_IO memoryIo{memLength, memSeek, memRead, memWrite, memTell};

} // namespace

SndFile::~SndFile() {
    if (m_handle)
        sf_close(m_handle);
}

std::unique_ptr<SndFile> SndFile::openFile(const QString& path) {
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<SndFile> file(new SndFile);
    // SFM_READ opens read-only: a missing file stays missing.
    file->m_handle = sf_open(QFile::encodeName(path).constData(), SFM_READ, &file->m_info);
    return checked(std::move(file));
}

std::unique_ptr<SndFile> SndFile::openMemory(const QByteArray& bytes) {
    std::unique_ptr<SndFile> file(new SndFile);
    file->m_memory = std::make_unique<Memory>();
    file->m_memory->bytes = bytes;
    file->m_handle = sf_open_virtual(&memoryIo, SFM_READ, &file->m_info, file->m_memory.get());
    return checked(std::move(file));
}

std::unique_ptr<SndFile> SndFile::checked(std::unique_ptr<SndFile> file) {
    if (!file->m_handle)
        return nullptr;
    const int major = file->m_info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX)
        return nullptr;
    if (file->m_info.channels < 1 || file->m_info.samplerate < 1 || file->m_info.frames < 0)
        return nullptr;
    return file;
}

// Rounded up: waits on the sound must not end before its last sample.
qint64 SndFile::durationMs() const {
    return (m_info.frames * 1000 + m_info.samplerate - 1) / m_info.samplerate;
}

qint64 SndFile::readFrames(qint16* out, qint64 count) {
    const sf_count_t n = sf_readf_short(m_handle, out, count);
    return n > 0 ? n : 0;
}

bool SndFile::rewind() {
    return sf_seek(m_handle, 0, SEEK_SET) == 0;
}
