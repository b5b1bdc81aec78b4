#pragma once
// Test helper for the mail library's own suites and its benchmark: one session over the library's
// calls in their documented order (connect, log in, status, size and mail of every message,
// close), with what each call gave back. It stops at the first failure and keeps its text.
// It is not the program's mail check (that is checkMail() in panel/).

#include <QList>
#include <QString>
#include <QStringList>

struct FetchedMessage {
    QString subject;
    QString date;
    QString from;
    QString header;
    QString body;
    qint32 size = 0;
    bool operator==(const FetchedMessage&) const = default;
};

struct FetchResult {
    enum class Stage { None, Connect, Login, Message };

    qint32 handle = -1;
    qint32 count = 0;               // what the login returned
    Stage failedIn = Stage::None;   // the first call that failed
    qint32 failedMessage = 0;       // its message number, when failedIn is Message
    QString error;                  // the library's text for that failure
    QList<FetchedMessage> messages; // every message fetched, when kept
    FetchedMessage last;            // the last message fetched

    bool ok() const { return failedIn == Stage::None; }
};

enum class KeepMessages { All, LastOnly };

FetchResult fetchAll(const QString& server, const QString& user, const QString& pass, bool apop,
                     KeepMessages keep = KeepMessages::All);

// One session that only looks (connect, pop3AuthenticateUidl, close).
struct UidResult {
    FetchResult::Stage failedIn = FetchResult::Stage::None; // Connect or Login
    QString error;
    qint32 count = 0;
    qint32 firstNumber = 0;
    QStringList uids;
};
UidResult listUids(const QString& server, const QString& user, const QString& pass, bool apop,
                   qint32 keep);

// The library's text for its last failure.
QString lastMailError();
