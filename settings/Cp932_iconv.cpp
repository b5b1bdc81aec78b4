#include "Cp932.h"

#include <QtEndian>
#include <cerrno>
#include <iconv.h>

namespace Cp932 {
namespace {

constexpr const char* kUtf16 =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";

// Owns one iconv conversion descriptor.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

  private:
    iconv_t m_cd;
};

} // namespace

std::optional<QByteArray> encode(const QString& text) {
    if (text.isEmpty())
        return QByteArray();
    Iconv cd("CP932", kUtf16);
    if (!cd.valid())
        return std::nullopt;
    // No cp932 character takes more than two bytes; a UTF-16 unit is two bytes.
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
    size_t inLeft = size_t(text.size()) * 2;
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == size_t(-1))
        return std::nullopt;
    if (iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
        return std::nullopt;
    out.truncate(out.size() - qsizetype(outLeft));
    return out;
}

QString decode(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return QString();
    Iconv cd(kUtf16, "CP932");
    if (!cd.valid())
        return QString(bytes.size(), QChar::ReplacementCharacter);
    QString out;
    out.reserve(bytes.size());
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char16_t buffer[256];
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof buffer;
        const size_t r = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(reinterpret_cast<const QChar*>(buffer),
                   qsizetype((sizeof buffer - outLeft) / sizeof(char16_t)));
        if (r != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or cut-off sequence: one replacement character for its first byte.
        out.append(QChar::ReplacementCharacter);
        ++in;
        --inLeft;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace Cp932
