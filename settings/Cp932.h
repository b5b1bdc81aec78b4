#pragma once
// Code page 932 (Shift-JIS as Windows writes it, NEC and IBM extensions included), the encoding
// of every settings file. Nothing here ever substitutes "?" for a character it cannot write.

#include <QByteArray>
#include <QString>
#include <optional>

namespace Cp932 {

// The bytes of the text, or nothing when a character has no cp932 form.
std::optional<QByteArray> encode(const QString& text);

// The text of the bytes; a byte sequence that is not cp932 becomes U+FFFD.
QString decode(const QByteArray& bytes);

// True when byte b opens a two-byte character.
bool isLeadByte(char b);

// The longest start of bytes that holds at most maxBytes bytes and does not split a two-byte
// character.
QByteArray cutAtCharBoundary(const QByteArray& bytes, qsizetype maxBytes);

} // namespace Cp932
