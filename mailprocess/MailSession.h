#pragma once
// The program's mail session: one connection at a time to a POP3 server, call by call, each
// call's result typed and each failure with the text the user is shown. The mail check and the
// automatic check both go through it, on the background thread (BackgroundWork.h); the program's
// own is MailClient (each connection a mail process of its own), tests give a fake.

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A call's value, or the text that tells the user why the call failed.
template <typename T = std::monostate> struct MailResult {
    std::optional<T> value;
    QString error;

    MailResult() = default; // failed, with no text yet
    MailResult(T done) : value(std::move(done)) {}
    static MailResult failed(QString text) {
        MailResult r;
        r.error = std::move(text);
        return r;
    }
    bool ok() const { return value.has_value(); }
};

// A message's header: subject, date and from decoded, and the raw header.
struct MailHeaderFields {
    QString subject;
    QString date;
    QString from;
    QString header;
    bool operator==(const MailHeaderFields&) const = default;
};

struct MailMessage {
    MailHeaderFields fields;
    QString body; // its first bytes (MailOptions.h: kMailBodyPrefixBytes)
};

// What a login that only looks finds.
struct MailUidListing {
    qint32 count = 0;       // the messages STAT counts
    bool idsKnown = false;  // the server listed a unique id for every one of them
    qint32 firstNumber = 0; // the message number of ids.first(); 0 when the ids are unknown
    QStringList ids;        // of the last messages, at most the number asked for, in order
};

class MailSession {
  public:
    virtual ~MailSession() = default;

    // Connects to server ("host", "host:port", "pop3://host[:port]", "pop3s://host[:port]"); a
    // connection still open is closed first.
    virtual MailResult<> open(const QString& server) = 0;
    // Logs in; the number of messages.
    virtual MailResult<qint32> login(const QString& user, const QString& password, bool apop) = 0;
    // Logs in, counts the messages and lists the unique ids of the last keep of them; nothing can
    // be fetched afterwards.
    virtual MailResult<MailUidListing>
    loginListingUids(const QString& user, const QString& password, bool apop, qint32 keep) = 0;
    // Message number's header (from 1).
    virtual MailResult<MailHeaderFields> header(qint32 number) = 0;
    // Its size as the server listed it at the login; 0 when unknown.
    virtual qint32 size(qint32 number) = 0;
    virtual MailResult<MailMessage> fetch(qint32 number) = 0;
    // Logs out; tells of nothing.
    virtual void close() = 0;
};
