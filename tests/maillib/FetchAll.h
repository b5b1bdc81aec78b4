#pragma once
// Test helper for the POP3 session's own suites and its benchmark: one session's calls in their
// documented order (open, log in, status, size and fetch of every message, close), with what
// each call gave back. It stops at the first failure and keeps its text.
// It is not the program's mail check (that is checkMail() in panel/).

#include "Pop3Session.h"

#include <QList>
#include <QSet>
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

    qint32 count = 0;               // what the login returned
    Stage failedIn = Stage::None;   // the first call that failed
    qint32 failedMessage = 0;       // its message number, when failedIn is Message
    QString error;                  // the session's text for that failure
    QList<FetchedMessage> messages; // every message fetched, when kept
    FetchedMessage last;            // the last message fetched

    bool ok() const { return failedIn == Stage::None; }
    bool opened() const { return failedIn != Stage::Connect; }
};

enum class KeepMessages { All, LastOnly };

FetchResult fetchAll(const QString& server, const QString& user, const QString& pass, bool apop,
                     KeepMessages keep = KeepMessages::All);

// One session that only looks (open, loginListingUids, close).
struct UidResult {
    FetchResult::Stage failedIn = FetchResult::Stage::None; // Connect or Login
    QString error;
    qint32 count = 0;
    qint32 firstNumber = 0;
    QStringList uids;
};
UidResult listUids(const QString& server, const QString& user, const QString& pass, bool apop,
                   qint32 keep);

// A memory of the servers that offered STLS, which a test can look into.
class RecordedTlsMemory final : public TlsServerMemory {
  public:
    bool offeredStls(const QString& host, quint16 port) override {
        return servers.contains({host, port});
    }
    void rememberStls(const QString& host, quint16 port) override { servers.insert({host, port}); }
    QSet<std::pair<QString, quint16>> servers;
};

// What every session of these helpers starts with, unless a test changes it: the defaults, and a
// memory of the servers that offered STLS that lasts until resetMailSettings.
Pop3Session::Settings& mailSettings();
void resetMailSettings();
