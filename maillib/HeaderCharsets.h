#pragma once
// The character sets of mail headers, one file per platform: ICU's converters through Qt on
// Linux (HeaderCharsets_icu.cpp); on Windows, whose Qt has no converters beyond the Unicode ones
// and Latin-1, the system's code pages (HeaderCharsets_win.cpp).

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace HeaderCharsets {

// The text of bytes in the character set of that name (as MIME names it, any case), or nothing
// when the set is unknown here. Bytes that are not of the set read as U+FFFD.
std::optional<QString> decode(QByteArrayView charset, QByteArrayView bytes);

// The text of bytes in Shift-JIS as Windows writes it (code page 932, NEC and IBM extensions).
QString decodeCp932(QByteArrayView bytes);

} // namespace HeaderCharsets
