#pragma once
// The program's mail session (MailSession.h): each connection is a mail process of its own
// (mokopon-mail, found beside the executable or in the installed module folder), started by the
// open and ended by the close, so that the program never loads Qt Network or TLS and a check's
// memory leaves with it. The process runs the POP3 session (Pop3Session.h gives what the calls
// do and their bounds).
//
// Call everything but stop from one thread. Each call waits for the process's reply no longer
// than the session's own bound of that call plus a margin; a process that hangs, ends, or writes
// what is no reply fails the call with a text of its own, and the connection is dropped. The
// password goes over the process's stdin only.

#include "MailOptions.h"
#include "MailSession.h"
#include "TlsServerMemory.h"

#include <QList>
#include <QSet>
#include <memory>
#include <utility>

class MailClient final : public MailSession {
  public:
    struct Setup {
        // Options and their values (MailOptions.h), which the process applies as the session
        // does (a value out of range is left at the session's default there).
        QList<std::pair<MailOption, qint32>> options = {};
        // The program's memory of servers that offered STLS, which the processes ask over their
        // pipe; nullptr: one that lasts as long as this object, started empty.
        TlsServerMemory* tlsMemory = nullptr;
        // The process to start; empty: mokopon-mail.
        QString program = {};
        QStringList arguments = {};
    };

    MailClient() : MailClient(Setup()) {}
    explicit MailClient(Setup setup);
    ~MailClient() override;
    MailClient(const MailClient&) = delete;
    MailClient& operator=(const MailClient&) = delete;

    MailResult<> open(const QString& server) override;
    MailResult<qint32> login(const QString& user, const QString& password, bool apop) override;
    MailResult<MailUidListing> loginListingUids(const QString& user, const QString& password,
                                                bool apop, qint32 keep) override;
    MailResult<MailHeaderFields> header(qint32 number) override;
    qint32 size(qint32 number) override;
    MailResult<MailMessage> fetch(qint32 number) override;
    void close() override;

    // Ends every mail process of the program at once; a call waiting on one fails, and so does
    // every later open. Any thread may call it.
    static void stop();

  private:
    struct Connection;
    class OwnTlsMemory final : public TlsServerMemory {
      public:
        bool offeredStls(const QString& host, quint16 port) override;
        void rememberStls(const QString& host, quint16 port) override;

      private:
        QSet<std::pair<QString, quint16>> m_servers;
    };

    qint32 option(MailOption which, qint32 fallback) const;
    // The login's bound, with the time its listing may earn.
    qint64 loginBound() const;
    // Sends request and reads the process's frames until its reply, answering its questions
    // about STLS on the way: the reply's payload after its kind, or nothing when the connection
    // failed (its failure says why).
    std::optional<QByteArray> exchange(const QByteArray& request, qint64 boundMs);
    // The text of a call that failed: the connection's failure, or that none is open.
    QString failure() const;
    // Drops the connection because its reply is cut short or holds less than it should.
    QString garbled();
    MailResult<MailMessage> fetchKind(quint8 kind, qint32 number);

    Setup m_setup;
    OwnTlsMemory m_ownTlsMemory;
    std::unique_ptr<Connection> m_connection;
};
