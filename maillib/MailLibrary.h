#pragma once
// The mail library: ten operations over our own POP3 client (Pop3Session).
//
// Start-up calls startMailLibrary and setMailOption; a mail check connects, authenticates,
// asks status, size and the message for every number, and closes; copyLastMailError gives the text
// of the last failure for the user; stopMailLibrary closes whatever is still open.
//
// Server settings: "host", "host:port", "pop3://host[:port]" (port 110; asks for TLS with STLS
// first thing, before any password is sent, and stays in plain text only when the server refuses
// STLS and its CAPA does not offer it) or "pop3s://host[:port]" (TLS from
// the first byte, port 995; so is port 995 however it is written). A server that answers in TLS
// where plain POP3 was expected, or in plain text where TLS was, fails the connect at once with a
// text that says which to use; a plain connection that gets no greeting at all says that the
// port may want TLS. Certificates and host names are checked against the system's trust
// store (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply).
//
// Call everything from one thread. Each call blocks until done, but every wait on the network is
// limited by the timeouts below, and so is each whole call: a server that trickles, never ends a
// reply or answers each command just before its timeout ends the call with a failure, and the
// connection is dropped.
//
// The bound of a whole check (connect, authenticate, status, size and mail for 1..N in order,
// close), in the time spent inside the calls, with the options below (Tc connect deadline, Tl
// login deadline, Tm message deadline, R lowest transfer rate in bytes per second), N the count
// authenticate returns and S(n) the size LIST gave for message n:
//
//   name lookup + Tc + min(Tl + 32 * N / R, 2.5 * Tl) + sum over n of (Tm + S(n) / R) + 2 s
//
// the last 2 s for the close. With the defaults (45 s, 30 s, 20 s, 2048 bytes/s) that is at most
// 122 s + N * 20 s + the bytes LIST announced / 2048 s, besides the system resolver's own time.
// The login with its listing earns 16 ms for each entry, but never more than 1.5 * Tl
// (mailLoginBoundMs): a server can list as fast as any allowance per entry, so only that cap
// ends one that lists without end. A mailbox of 100,000 messages lists within it on a line of
// 22 KB/s or faster. A caller that asks for the messages out of order may read a reply it skips;
// each reply read has its own Tm + S(n) / R. Whatever that sum comes to, the calls fail once the
// check deadline (30 minutes) has passed since the connect began, so no server holds a check
// for longer.
//
// A check that only looks for new mail (connect, pop3AuthenticateUidl, close) is bounded by
// name lookup + Tc + min(Tl + 80 * N / R, 2.5 * Tl) + 2 s, N the count STAT gives, at most
// 1,000,000: 122 s with the defaults.
//
// LIST must give messages 1, 2, 3, ... in order, each with its size, one entry for each message
// STAT counts. A LIST that does not (a line that is no such entry, more or fewer entries than
// STAT's count), or a refused LIST while STAT counts messages, fails the login with a text that
// shows what the server sent: neither the count nor the messages' deadlines could be trusted.
// The count is at most 1,000,000.
//
// A message whose RETR the server refused is not asked for again on that connection: the
// status and fetch calls for it fail with the server's answer, and the next messages still come.
//
// A server reached in plain POP3 that once offered STLS (setMailTlsServerMemory) but does not
// now gets no password: authenticate fails without sending USER, PASS or APOP. The login is never
// pipelined, so a refused USER means PASS is not sent.
//
// A command that changes the session's state (STLS, USER, PASS, APOP) goes out alone and its
// reply is read before anything else is sent: some servers hand the session to a new process at
// login and lose what was sent behind the password. When the server offers PIPELINING, STAT and
// LIST go out together after the login's reply, and the RETRs of the next messages are sent while
// the caller still works on the current one: as many as fit in the window (options 5 and 11), so
// that on a long line the replies never pause for a round trip, while the server is never asked for
// more than the window's bytes ahead. Each message is read once: its header answers
// pop3FetchHeader, the rest pop3FetchMail. Asking in another order works too, it just costs more
// round trips. The close sends QUIT and does not wait for its reply; with replies still on their
// way it just drops the connection.

#include "MailOptions.h"
#include "TlsServerMemory.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Starts the table of connections; 0. Other calls fail until it has run.
qint32 startMailLibrary();
// 0, or -1 for an unknown option or a value out of range.
qint32 setMailOption(qint32 option, qint32 value);
// Where the library keeps which servers (host and port) once offered STLS. The object must
// outlive the connections opened after the call. nullptr: a memory of the library's own that
// lasts while the process runs, started empty by each such call. The default is that one.
void setMailTlsServerMemory(TlsServerMemory* memory);
// Closes every connection still open; 0.
qint32 stopMailLibrary();

// A connection handle (>= 0), or -1.
qint32 pop3Connect(const QString& server);
// The number of messages (as LIST backs it up); negative on failure. apop: -1 on, 0 off (any
// non-zero is on).
qint32 pop3Authenticate(qint32 handle, const QString& id, const QString& pass, qint32 apop);
// Logs in as pop3Authenticate does, but fetches nothing and sends no LIST: STAT counts the
// messages and UIDL lists their unique ids. uids gets the ids of the last messages, at most keep
// of them, in order, and firstNumber the message number of the first one (1 for an empty
// mailbox). A server without UIDL, or one whose UIDL leaves a message out, gives no ids and
// firstNumber 0. No message can be fetched on the handle afterwards. The count STAT gives (at
// most 1,000,000); negative on failure.
qint32 pop3AuthenticateUidl(qint32 handle, const QString& id, const QString& pass, qint32 apop,
                            qint32 keep, QStringList& uids, qint32& firstNumber);
// Fills subject, date, from (RFC 2047 words decoded) and header (raw, cut to 8191 characters)
// from message number's header. Bytes outside encoded words are UTF-8, or Shift-JIS (code page
// 932) where they are not valid UTF-8. flag is not used. 0, or -1 on failure.
qint32 pop3FetchHeader(qint32 handle, qint32 number, QString& subject, QString& date, QString& from,
                       QString& header, qint32 flag);
// The size in bytes from the server's LIST (0 when unknown; never negative).
qint32 pop3MailSize(qint32 handle, qint32 number);
// Fetches the message: the header fields as above and at most kMailBodyPrefixBytes of the body
// into body. path and flag are not used. 0, or -1 on failure.
qint32 pop3FetchMail(qint32 handle, qint32 number, QString& subject, QString& date, QString& from,
                     QString& header, QString& body, qint32 path, qint32 flag);
// Logs out and closes; 0, or -1 for an unknown handle.
qint32 pop3Close(qint32 handle);
// The text of the last failure, ended by NUL, into buffer (at most length characters with the
// NUL). code is 0. The number of characters before the NUL, or -1 when length is below 1.
qint32 copyLastMailError(qint32 code, QString& buffer, qint32& length);
