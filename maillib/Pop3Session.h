#pragma once
// One POP3 connection: connect (TLS from the start, or STLS when offered), log in, then hand out
// messages one at a time while the RETRs for the next ones are already on their way (when the
// server allows PIPELINING). Each RETR is read once: its header feeds status(), the rest of it
// fetch(); nothing keeps more than a bounded part of a message. Every wait has a time limit, and
// so has each whole step: the connect, the login with its LIST, and each message's reply (scaled
// with the size LIST gave for it), so a server that trickles or never ends a reply is cut off.
//
// The calls block the calling thread; the socket is driven with waitFor*, so no event loop runs.

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
        int receiveBufferSize = 8192; // bytes taken from the socket at a time
        int connectTimeoutMs = 20000; // name lookup, TCP connect and TLS handshake
        int commandTimeoutMs = 30000; // for a status line to arrive whole
        int stallTimeoutMs = 30000;   // for the next bytes of a multi-line reply
        // Replies asked for ahead when pipelining, at most this many RETRs (1 = never) and this
        // many bytes by their LIST sizes (one message is always asked for, whatever its size).
        int window = 1000;
        qint64 windowBytes = 16 * 1024 * 1024;
        // Whole steps (MailLibrary.h gives the bound of a check they make).
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
    struct Fields {
        QString subject;
        QString date;
        QString from;
        QString header;
    };
    // Text handed out in the caller's buffers is cut to this many characters.
    static constexpr qsizetype kMaxFieldChars = 8191;
    // Bytes of the body given to the caller; the rest is read and dropped.
    static constexpr qsizetype kMaxBodyPrefix = 64 * 1024;

    // The time a UIDL entry earns: the longest line the protocol allows for one.
    static constexpr qint64 kUidlEntryBytes = 80;
    // A login that fetches nothing lists this instead of the sizes.
    struct UidListing {
        qint32 count = 0;       // STAT's, at most kMaxMessages
        bool uidsKnown = false; // UIDL answered, in order, for every message STAT counted
        qint32 firstNumber = 0; // the message number of uids.first()
        QList<QByteArray> uids; // of the last messages, at most the number asked for, in order
    };

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
    bool status(qint32 number, Fields& fields);
    // From the LIST taken at login; 0 for an unknown message.
    qint64 size(qint32 number) const;
    bool fetch(qint32 number, Fields& fields, QString& bodyPrefix);
    void close();

    // The text for the user about the last failure.
    const QString& error() const { return m_error; }
    bool isEncrypted() const { return m_socket.isEncrypted(); }
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
