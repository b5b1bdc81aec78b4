#pragma once
// One POP3 connection, the mail process's (mokopon-mail) whole library: connect (TLS from the
// start, or STLS when offered), log in, then hand out messages one at a time while the RETRs for
// the next ones are already on their way (when the server allows PIPELINING). Each RETR is read
// once: its header feeds status(), the rest of it fetch(); nothing keeps more than a bounded part
// of a message. A session calls open, login (or loginListingUids), status, size and fetch for
// every number, and close; error() gives the text of the last failure for the user.
//
// Server settings: "host", "host:port", "pop3://host[:port]" (port 110; asks for TLS with STLS
// first thing, before any password is sent, and stays in plain text only when the server refuses
// STLS and its CAPA does not offer it) or "pop3s://host[:port]" (TLS from the first byte, port
// 995; so is port 995 however it is written). A server that answers in TLS where plain POP3 was
// expected, or in plain text where TLS was, fails the open at once with a text that says which to
// use; a plain connection that gets no greeting at all says that the port may want TLS.
// Certificates and host names are checked against the system's trust store (OpenSSL's default
// paths, so SSL_CERT_FILE and SSL_CERT_DIR apply).
//
// The calls block the calling thread; the socket is driven with waitFor*, so no event loop runs.
// Every wait on the network is limited by the timeouts in Settings, and so is each whole call: a
// server that trickles, never ends a reply or answers each command just before its timeout ends
// the call with a failure, and the connection is dropped.
//
// The bound of a whole check (open, login, status, size and fetch for 1..N in order, close), in
// the time spent inside the calls, with Tc connect deadline, Tl login deadline, Tm message
// deadline, R lowest transfer rate in bytes per second, N the count login returns and S(n) the
// size LIST gave for message n:
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
// check deadline (30 minutes) has passed since the open began, so no server holds a check for
// longer.
//
// A check that only looks for new mail (open, loginListingUids, close) is bounded by name lookup
// + Tc + min(Tl + 80 * N / R, 2.5 * Tl) + 2 s, N the count STAT gives, at most 1,000,000: 122 s
// with the defaults.
//
// LIST must give messages 1, 2, 3, ... in order, each with its size, one entry for each message
// STAT counts. A LIST that does not (a line that is no such entry, more or fewer entries than
// STAT's count), or a refused LIST while STAT counts messages, fails the login with a text that
// shows what the server sent: neither the count nor the messages' deadlines could be trusted.
// The count is at most 1,000,000.
//
// A message whose RETR the server refused is not asked for again on that connection: status and
// fetch for it fail with the server's answer, and the next messages still come.
//
// A server reached in plain POP3 that once offered STLS (Settings::tlsMemory) but does not now
// gets no password: the login fails without sending USER, PASS or APOP. The login is never
// pipelined, so a refused USER means PASS is not sent.
//
// A command that changes the session's state (STLS, USER, PASS, APOP) goes out alone and its
// reply is read before anything else is sent: some servers hand the session to a new process at
// login and lose what was sent behind the password. When the server offers PIPELINING, STAT and
// LIST go out together after the login's reply, and the RETRs of the next messages are sent while
// the caller still works on the current one: as many as fit in the window (options 5 and 11), so
// that on a long line the replies never pause for a round trip, while the server is never asked
// for more than the window's bytes ahead. Asking in another order works too, it just costs more
// round trips. The close sends QUIT and does not wait for its reply; with replies still on their
// way it just drops the connection.

#include "MailHeader.h"
#include "MailOptions.h"
#include "Pop3ReplyParser.h"
#include "TlsServerMemory.h"

#include <QBitArray>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QSslSocket>
#include <QString>
#include <deque>
#include <functional>

class Pop3Session {
  public:
    struct Settings {
        int receiveBufferSize = kMailReceiveBufferBytes; // bytes taken from the socket at a time
        int connectTimeoutMs = 20000; // name lookup, TCP connect and TLS handshake
        int commandTimeoutMs = 30000; // for a status line to arrive whole
        int stallTimeoutMs = 30000;   // for the next bytes of a multi-line reply
        // Replies asked for ahead when pipelining, at most this many RETRs (1 = never) and this
        // many bytes by their LIST sizes (one message is always asked for, whatever its size).
        int window = 1000;
        qint64 windowBytes = 16 * 1024 * 1024;
        // Whole steps (the bound of a check they make is above).
        int connectDeadlineMs = kMailConnectDeadlineMs; // connect, greeting, STLS, handshake, CAPA
        int loginDeadlineMs =
            kMailLoginDeadlineMs;      // USER and PASS or APOP, STAT, LIST (plus kListEntryBytes
                                       // at minTransferRate for each message LIST gives, up to
                                       // mailLoginBoundMs in all)
        int messageDeadlineMs = 20000; // a message's reply, plus its LIST size at minTransferRate
        int minTransferRate = kMailMinTransferRate; // bytes per second
        int checkDeadlineMs = kMailCheckDeadlineMs; // the whole session, from open to close
        TlsServerMemory* tlsMemory = nullptr;       // servers that offered STLS; nullptr: none kept
    };
    // The time a LIST entry earns: a line of two large numbers.
    static constexpr qint64 kListEntryBytes = 32;
    // More messages than this are not handed out.
    static constexpr qint32 kMaxMessages = kMailMaxMessages;
    // A message's header: subject, date and from with their RFC 2047 words decoded, and the raw
    // header. Bytes outside encoded words are UTF-8, or Shift-JIS (code page 932) where they are
    // not valid UTF-8.
    struct Fields {
        QString subject;
        QString date;
        QString from;
        QString header;
    };
    // Each field is cut to this many characters.
    static constexpr qsizetype kMaxFieldChars = kMailMaxTextChars;
    // Bytes of the body given to the caller; the rest is read and dropped.
    static constexpr qsizetype kMaxBodyPrefix = kMailBodyPrefixBytes;

    // The time a UIDL entry earns: the longest line the protocol allows for one.
    static constexpr qint64 kUidlEntryBytes = 80;
    // A login that fetches nothing lists this instead of the sizes.
    struct UidListing {
        qint32 count = 0;       // STAT's, at most kMaxMessages
        bool uidsKnown = false; // UIDL answered, in order, for every message STAT counted
        qint32 firstNumber = 0; // the message number of uids.first()
        QList<QByteArray> uids; // of the last messages, at most the number asked for, in order
    };

    // Sets option (MailOptions.h) in settings; false for an unknown option or a value out of
    // range, which leaves settings as they were.
    static bool applyOption(Settings& settings, qint32 option, qint32 value);

    explicit Pop3Session(const Settings& settings);
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    bool open(const QString& server);
    // The number of messages, or -1.
    qint32 login(const QString& user, const QString& password, bool apop);
    // Logs in as login() does, then counts with STAT and lists the messages' unique ids (UIDL)
    // instead of their sizes. No message can be asked for afterwards. A server without UIDL is
    // no failure: uidsKnown stays false.
    bool loginListingUids(const QString& user, const QString& password, bool apop, qint32 keep,
                          UidListing& listing);
    // The header of message number (from 1).
    bool status(qint32 number, Fields& fields);
    // From the LIST taken at login; 0 for an unknown message.
    qint64 size(qint32 number) const;
    // The header as status() gives it and the first kMaxBodyPrefix bytes of the body (as UTF-8).
    bool fetch(qint32 number, Fields& fields, QString& bodyPrefix);
    // Logs out and closes.
    void close();

    // The text for the user about the last failure.
    const QString& error() const { return m_error; }
    bool pipelining() const { return m_caps.pipelining && m_settings.window > 1; }
    // RETRs sent whose replies are not read to the end yet, and the bytes LIST gave for them.
    qsizetype repliesAhead() const { return qsizetype(m_inFlight.size()); }
    qint64 bytesAhead() const { return m_bytesInFlight; }

  private:
    enum class Stage { StatusUnread, Header, Body };
    enum class Phase { Connect, Login, Message, Quit };

    bool fail(const QString& text);
    bool failDeadline();
    bool failCheckDeadline();
    // The phase whose deadline now runs, with what it allows in all.
    void startPhase(Phase phase, qint64 allowedNs, qint32 message = 0);
    // ms for a wait of at most limit that also ends by the phase's deadline.
    int waitMs(int limit) const;
    qint64 messageAllowanceNs(qint32 number) const;
    void pauseFront();
    bool failConnect();
    // implicit: TLS from the first byte (else after STLS).
    bool failTls(bool implicit);
    bool fill(QDeadlineTimer deadline);
    bool send(const QByteArray& line);
    // Reads a status line; false on a failure of the connection (Err is not a failure here).
    bool readStatus(Pop3ReplyParser::Step& step);
    // Next line of a multi-line reply: Line, Piece or End; Bad after a failure.
    Pop3ReplyParser::Step readData();
    bool skipData();
    // Reads a multi-line reply to its end, handing each whole line to take; a line too long for
    // the parser, handed out in pieces, is no entry of a listing. False on a failure.
    bool readLines(const std::function<void(QByteArrayView)>& take);
    // More time for the running phase: what one more entry of a listing earns.
    void earn(qint64 ns);
    bool readCapabilities();
    // The handshake after STLS was taken.
    bool startTls();
    // USER and PASS or APOP, each alone, waiting for its reply; starts the login phase.
    bool authenticate(const QString& user, const QString& password, bool apop);
    // Sends STAT and the listing command (together when pipelining) and reads STAT's count;
    // the listing's reply is next.
    std::optional<qint64> stat(const QByteArray& listing);
    bool readList(qint64 statCount);
    bool readUidList(qint64 statCount, qint32 keep, UidListing& listing);

    bool position(qint32 number);
    void popFront();
    bool readHeader();
    bool finishFront();
    void topUp();
    void fillFields(Fields& fields) const;
    QString refusalText(qint32 number) const;
    QString serverText(QByteArrayView text) const;

    Settings m_settings;
    QSslSocket m_socket;
    Pop3ReplyParser m_parser;
    QByteArray m_chunk;
    QString m_server;
    quint16 m_port = 0;
    QString m_error;
    bool m_broken = false;
    bool m_loggedIn = false;
    bool m_stlsStripped = false;  // offered STLS once, but not on this plain connection
    bool m_plainGreeting = false; // the greeting of a plain connection is awaited
    Pop3ReplyParser::Capabilities m_caps;
    std::optional<QByteArray> m_timestamp;

    Phase m_phase = Phase::Connect;
    QDeadlineTimer m_deadline;                               // of the running phase
    QDeadlineTimer m_checkDeadline{QDeadlineTimer::Forever}; // of the whole session
    qint64 m_allowedNs = 0;                                  // what the running phase allows in all
    qint32 m_phaseMessage = 0;                               // the message whose reply is read
    qint64 m_frontLeftNs = 0; // of the front reply's allowance, what earlier calls left
    qint64 m_earnableNs = 0;  // what a listing may still add to the running phase

    qint32 m_count = 0;
    QList<quint32> m_sizes;   // LIST sizes of messages 1..m_count
    QBitArray m_refused;      // messages whose RETR the server refused
    qint32 m_lastRefused = 0; // the last of them, and what the server said
    QString m_lastRefusal;
    std::deque<qint32> m_inFlight; // RETRs sent whose replies are not read to the end, in order
    qint64 m_bytesInFlight = 0;    // their LIST sizes
    qint32 m_nextAhead = 1;        // the next message whose RETR may be sent ahead
    Stage m_frontStage = Stage::StatusUnread;
    bool m_frontEnded = false; // the front reply ended inside its header
    MailHeader m_header;
};
