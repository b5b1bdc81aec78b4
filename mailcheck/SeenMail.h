#pragma once
// What the automatic check has seen of each account's mailbox, so that it speaks up only for
// mail the user has not been told of. Kept in a file of this program's own in the data folder,
// never in the settings files the Windows version reads.
//
// New mail is a unique id (UIDL) that was not on the server at the account's previous check.
// Servers number their messages in the order they arrived, so an unseen id that comes before
// every id seen before is an old message that came into view (the list of ids kept is cut to the
// last kMaxIds messages), not a new one. A server without UIDL has new mail when its count went
// up; so does an account that had no ids at its previous check. An account never checked before
// has new mail when it has any.
//
// The file: UTF-8 lines, "A <account>", then "N <count> <1 if ids follow, else 0>", then
// "U <id>" for each id, the most recent account first; at most kMaxAccounts accounts and
// kMaxIds ids of at most 70 bytes each, so it stays under kFileCap (about 1.5 MB at the very
// most, a few kB for usual mailboxes). It is read only when regular and no larger than that,
// written as a regular file readable by its owner only (SafeFile), and held in memory only
// while a check's result is taken in. Without a data folder nothing is kept.

#include <QString>
#include <QStringList>
#include <optional>

// What a check found in a mailbox.
struct MailboxListing {
    qint32 count = 0;
    bool idsKnown = false;
    qint32 firstNumber = 0; // the message number of ids.first()
    QStringList ids;        // of the last messages, in order
};

class SeenMail {
  public:
    static constexpr int kMaxAccounts = 4;
    static constexpr int kMaxIds = 5000;
    static constexpr qint64 kFileCap = 2 * 1024 * 1024;

    struct Mailbox {
        qint32 count = 0;
        bool idsKnown = false;
        QStringList ids;
    };

    explicit SeenMail(const QString& filePath);

    // The account's name in the file: user, host (in lower case) and port.
    static QString account(const QString& user, const QString& host, quint16 port);

    // Whether now holds mail that before did not.
    static bool hasNew(const std::optional<Mailbox>& before, const MailboxListing& now);

    // Whether now holds new mail for the account, which is then remembered as seen.
    bool takeNew(const QString& account, const MailboxListing& now);

    // What the file holds for the account.
    std::optional<Mailbox> seen(const QString& account) const;

  private:
    struct Entry {
        QString account;
        Mailbox mailbox;
    };
    QList<Entry> load() const;
    void save(const QList<Entry>& entries) const;

    const QString m_path;
};
