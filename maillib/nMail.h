#pragma once
// The mail library: ten operations over our own POP3 client (Pop3Session).
//
// Start-up calls NMailInitializeWinSock and NMailSetOption; a mail check connects, authenticates,
// asks status, size and the message for every number, and closes; NMailGetMessage gives the text
// of the last failure for the user; NMailEndWinSock closes whatever is still open.
//
// Server settings: "host", "host:port", "pop3://host[:port]" (port 110; switches to TLS with STLS
// whenever the server offers it, before any password is sent) or "pop3s://host[:port]" (TLS from
// the first byte, port 995). Certificates and host names are checked against the system's trust
// store (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply).
//
// Call everything from one thread (the GUI thread). Each call blocks until done, but every wait
// on the network is limited by the timeouts below, so a dead server ends the call with a failure.
//
// When the server offers PIPELINING, the RETRs of the next messages are sent while the caller
// still works on the current one; each message is read once: its header answers
// NMailPop3GetMailStatus, the rest NMailPop3GetMail. Asking in another order works too, it just
// costs more round trips.

#include <QString>
#include <QtGlobal>

// Options of NMailSetOption. They apply to connections opened after the call.
enum NMailOption : qint32 {
    NMailOptionReceiveBuffer = 1,  // bytes read from the socket at a time (512 .. 16 MiB), 8192
    NMailOptionConnectTimeout = 2, // ms for TCP connect and TLS handshake, 20000 (a name
                                   // lookup takes as long as the system resolver allows)
    NMailOptionCommandTimeout = 3, // ms for a reply's status line to arrive, 30000
    NMailOptionStallTimeout = 4,   // ms without a byte inside a multi-line reply, 30000
    NMailOptionPipelineWindow = 5, // RETRs sent ahead when pipelining (1 = off, up to 1000), 256
};

// The body handed back by NMailPop3GetMail is cut to this many bytes of the message body (decoded
// as UTF-8); the rest is read and dropped, so memory does not grow with a message's size. A server
// may claim any size, so a caller sizing its buffer from NMailPop3GetMailSize should cap it here.
inline constexpr qint32 NMailBodyPrefixBytes = 64 * 1024;

// Starts the table of connections; 0. Other calls fail until it has run.
qint32 NMailInitializeWinSock();
// 0, or -1 for an unknown option or a value out of range.
qint32 NMailSetOption(qint32 option, qint32 value);
// Closes every connection still open; 0.
qint32 NMailEndWinSock();

// A connection handle (>= 0), or -1.
qint32 NMailPop3Connect(const QString& server);
// The number of messages; negative on failure. apop: -1 on, 0 off (any non-zero is on).
qint32 NMailPop3Authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop);
// Fills subject, date, from (RFC 2047 words decoded) and header (raw, cut to 8191 characters)
// from message number's header. flag is not used. 0, or -1 on failure.
qint32 NMailPop3GetMailStatus(qint32 handle, qint32 number, QString& subject, QString& date,
                              QString& from, QString& header, qint32 flag);
// The size in bytes from the server's LIST (0 when unknown; never negative).
qint32 NMailPop3GetMailSize(qint32 handle, qint32 number);
// Fetches the message: the header fields as above and at most NMailBodyPrefixBytes of the body
// into body. path and flag are not used. 0, or -1 on failure.
qint32 NMailPop3GetMail(qint32 handle, qint32 number, QString& subject, QString& date,
                        QString& from, QString& header, QString& body, qint32 path, qint32 flag);
// Logs out and closes; 0, or -1 for an unknown handle.
qint32 NMailPop3Close(qint32 handle);
// The text of the last failure, ended by NUL, into buffer (at most length characters with the
// NUL). code is 0. The number of characters before the NUL, or -1 when length is below 1.
qint32 NMailGetMessage(qint32 code, QString& buffer, qint32& length);
