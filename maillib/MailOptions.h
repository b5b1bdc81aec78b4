#pragma once
// The POP3 session's options and limits, apart from the session: the program, which reaches it
// through its mail process (mokopon-mail), needs them without linking it.

#include <QtGlobal>

// Options of the mail process: the program gives them (MailClient::Setup), each connection's
// process applies them to its session (Pop3Session::applyOption).
enum MailOption : qint32 {
    MailOptionReceiveBuffer = 1,  // bytes read from the socket at a time (512 .. 16 MiB),
                                  // kMailReceiveBufferBytes
    MailOptionConnectTimeout = 2, // ms for TCP connect and TLS handshake, 20000 (a name
                                  // lookup takes as long as the system resolver allows)
    MailOptionCommandTimeout = 3, // ms for a reply's status line to arrive, 30000
    MailOptionStallTimeout = 4,   // ms without a byte inside a multi-line reply, 30000
    MailOptionPipelineWindow = 5, // RETRs sent ahead when pipelining (1 = off, up to 1000), 1000
    // Whole calls, in ms (Pop3Session.h gives the bound of a check).
    MailOptionConnectDeadline = 6, // the connect: greeting, STLS, handshake, CAPA, 45000
    MailOptionLoginDeadline = 7,   // USER and PASS or APOP, STAT, LIST; 30000, plus 32 bytes'
                                   // time at the lowest rate for each message LIST gives, at
                                   // most 2.5 times the deadline in all
    MailOptionMessageDeadline = 8, // a message's reply, 20000, plus its LIST size's time
    MailOptionMinTransferRate = 9, // the lowest rate in bytes per second (1 .. 1 GiB), 2048
    MailOptionCheckDeadline = 10,  // ms from connect to close, whatever the above allow;
                                   // 1800000 (30 minutes)
    MailOptionPipelineBytes = 11,  // bytes of messages (by LIST's sizes) asked for ahead when
                                   // pipelining (1 .. 1 GiB), 16 MiB; one is always asked for
};

// The receive buffer the program asks for, and the longest text handed back (a header, a failure
// text), one character less.
inline constexpr qint32 kMailReceiveBufferBytes = 8192;
inline constexpr qsizetype kMailMaxTextChars = kMailReceiveBufferBytes - 1;

// The longest unique id a UIDL line may give (1 to 70 printable characters without blanks); the
// program keeps the ids it saw, and drops longer ones.
inline constexpr qsizetype kMailMaxUidBytes = 70;

// The body a fetch hands back is cut to this many bytes of the message body (decoded
// as UTF-8); the rest is read and dropped, so memory does not grow with a message's size. A server
// may claim any size, so a caller sizing its buffer from a message's size should cap it here.
inline constexpr qint32 kMailBodyPrefixBytes = 64 * 1024;

// The defaults of the options that bound whole calls; the program waits for its mail process
// by them.
inline constexpr qint32 kMailConnectDeadlineMs = 45000;
inline constexpr qint32 kMailLoginDeadlineMs = 30000;
inline constexpr qint32 kMailMinTransferRate = 2048;
inline constexpr qint32 kMailCheckDeadlineMs = 30 * 60 * 1000;
// A listing (LIST, or UIDL for the check that only looks) earns time for every entry it gives,
// but never more than one and a half times the login deadline: the login with its listing ends
// within this, whatever the server sends (75 s with the defaults).
inline constexpr qint64 mailLoginBoundMs(qint64 loginDeadlineMs) {
    return loginDeadlineMs * 5 / 2;
}
// The most messages a login counts.
inline constexpr qint32 kMailMaxMessages = 1000000;
