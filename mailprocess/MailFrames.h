#pragma once
// What the program and its mail process (mokopon-mail) say to each other over the process's
// stdin and stdout: frames of a 4-byte big-endian length and that many bytes of QDataStream, the
// first of which names the kind. Each side bounds the frames it reads, so a process that writes
// garbage costs at most one frame's bytes.

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

namespace MailFrames {

// Larger than any reply: a message's body prefix and header in UTF-16, or 5000 unique ids.
inline constexpr qint32 kMaxFrameBytes = 4 * 1024 * 1024;

enum Kind : quint8 {
    // The program's requests; the first one of a process is Connect.
    Connect = 1,      // options (count, then option and value pairs), server
    Authenticate,     // id, pass, apop (bool)
    AuthenticateUidl, // id, pass, apop (bool), keep
    FetchHeader,      // number
    MailSize,         // number
    FetchMail,        // number
    Close,
    StlsAnswer, // the answer to OfferedStls: bool
    // The process's messages.
    Reply,        // the call's result (negative: failed), the failure text, the call's values
    OfferedStls,  // host, port: the program answers with StlsAnswer
    RememberStls, // host, port
};

QDataStream& setUp(QDataStream& stream);

// The payload behind its length.
QByteArray withLength(const QByteArray& payload);

// A frame of kind with the values after it.
template <typename... Values> QByteArray frame(Kind kind, const Values&... values) {
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    setUp(out) << quint8(kind);
    ((out << values), ...);
    return withLength(payload);
}

// The length a frame's first 4 bytes announce.
quint32 announcedLength(const QByteArray& buffer);

// Takes the first whole frame's payload off the front of buffer; nothing while it is incomplete.
// tooLarge is set when the length announced is over kMaxFrameBytes.
std::optional<QByteArray> take(QByteArray& buffer, bool& tooLarge);

// Lists go as a count and their items, so that a wrong count cannot make the reader allocate for
// it (QDataStream reserves what a list's count announces).
void writeList(QDataStream& out, const QStringList& list);
bool readList(QDataStream& in, QStringList& list);

} // namespace MailFrames
