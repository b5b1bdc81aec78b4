#include "Cp932.h"

#include <windows.h>

namespace Cp932 {

namespace {

constexpr UINT kCodePage = 932;

// Single bytes that Windows maps to private or control characters, which files written on Windows
// never hold as text; read as no character, so that every system reads a file alike.
bool unassignedSingle(char b) {
    const auto u = static_cast<unsigned char>(b);
    return u == 0x80 || u == 0xA0 || u >= 0xFD;
}

// One character's bytes decoded, or nothing when Windows takes them for no character.
bool decodeOne(const char* bytes, int length, QString* out) {
    wchar_t wide[2];
    const int n = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
    if (n <= 0)
        return false;
    out->append(QString::fromWCharArray(wide, n));
    return true;
}

} // namespace

std::optional<QByteArray> encode(const QString& text) {
    if (text.isEmpty())
        return QByteArray();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int length = int(text.size());
    // No best fit: a character without a cp932 form fails rather than becoming a look-alike
    // or "?".
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    QByteArray out(size, Qt::Uninitialized);
    if (WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), size,
                            nullptr, &usedDefault) != size ||
        usedDefault)
        return std::nullopt;
    // What would not read back as the same text (a character that only those single bytes carry)
    // has no cp932 form here either.
    if (decode(out) != text)
        return std::nullopt;
    return out;
}

QString decode(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    const char* p = bytes.constData();
    const qsizetype size = bytes.size();
    // A character at a time, so that a sequence that is not cp932 becomes one replacement
    // character for its first byte and the next byte starts afresh.
    for (qsizetype i = 0; i < size;) {
        if (isLeadByte(p[i]) && i + 1 < size && decodeOne(p + i, 2, &out)) {
            i += 2;
            continue;
        }
        if (!isLeadByte(p[i]) && !unassignedSingle(p[i]) && decodeOne(p + i, 1, &out)) {
            ++i;
            continue;
        }
        out.append(QChar::ReplacementCharacter);
        ++i;
    }
    return out;
}

} // namespace Cp932
