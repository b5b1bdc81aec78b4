#pragma once
// Reads POP3 replies from the bytes a server sends. This is the only code that looks at bytes from
// the network, so it is kept free of sockets and time: the session feeds it what arrived and asks
// for the next status line or the next line of a multi-line reply. Its buffer never holds more
// than what was fed and not yet taken, and a line without end is handed out in pieces.

#include "MailOptions.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

class Pop3ReplyParser {
  public:
    // A status line longer than this is not a POP3 reply (the protocol allows 512 octets).
    static constexpr qsizetype kMaxStatusLine = 8192;
    // A data line longer than this is handed out in pieces of at most this size.
    static constexpr qsizetype kMaxPiece = 16384;

    enum class Step {
        NeedMore, // feed more bytes
        Ok,       // "+OK": text() holds the rest of the line
        Err,      // "-ERR": text() holds the rest of the line
        Line,     // a whole data line, dot-unstuffed, without its line end
        Piece,    // the next part of a data line that has not ended yet
        End,      // the line "." that ends a multi-line reply
        Bad,      // not a POP3 reply; the connection is not usable after this
    };

    void feed(QByteArrayView bytes);
    // Bytes fed but not yet taken.
    qsizetype buffered() const { return m_buffer.size() - m_pos; }
    QByteArrayView unread() const { return QByteArrayView(m_buffer).sliced(m_pos); }
    void clear();

    // The next status line ("+OK ..." or "-ERR ...").
    Step readStatus();
    // The next line of a multi-line reply; Line, Piece or End, or NeedMore.
    Step readData();
    // After Ok or Err: the text after the status word. After Line or Piece: the data.
    // Valid until the next call of feed or read*.
    QByteArrayView text() const { return m_text; }

    // Whether a server's first bytes are a TLS record (an alert or a handshake, version 3.x)
    // rather than a greeting: a port that wants TLS from the first byte.
    static bool startsLikeTls(QByteArrayView firstBytes);

    // The <...> timestamp of an APOP greeting, or nothing.
    static std::optional<QByteArray> greetingTimestamp(QByteArrayView greetingText);

    struct Capabilities {
        bool stls = false;
        bool pipelining = false;
        bool user = false;
    };
    // One line of a CAPA reply added to caps.
    static void addCapability(Capabilities& caps, QByteArrayView line);

    // One line of a LIST reply: "number size". Sizes beyond the range are clamped.
    struct ListEntry {
        qint64 number = 0;
        qint64 size = 0;
    };
    static std::optional<ListEntry> parseListLine(QByteArrayView line);
    // The reply text of STAT: "count size".
    static std::optional<ListEntry> parseStat(QByteArrayView text) { return parseListLine(text); }

    // One line of a UIDL reply: "number uid", the id 1 to 70 printable characters without blanks.
    static constexpr qsizetype kMaxUidBytes = kMailMaxUidBytes;
    struct UidEntry {
        qint64 number = 0;
        QByteArrayView uid; // a part of the line given
    };
    static std::optional<UidEntry> parseUidlLine(QByteArrayView line);

  private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_pos = 0;
    QByteArrayView m_text;
    bool m_inLine = false; // a piece of the current data line was handed out already
};
