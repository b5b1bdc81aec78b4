#pragma once
// The automatic mail check: every few minutes, in the background, it logs in as a check by hand
// does, counts the messages with STAT and lists their unique ids with UIDL, and fetches and
// deletes nothing. When it finds mail not seen at the previous check (SeenMail) it reports the
// count as a check by hand does, with the notice and the companion's bark; otherwise nothing
// shows. The first failure shows the same box as a check by hand; later ones stay quiet until a
// check succeeds or the user checks by hand. It never dials and never hangs up, and it is put off
// while NetworkManager reports no connection.
//
// The work runs on the background thread (BackgroundWork.h), so the characters go on answering
// the mouse, and a check by hand, whose calls go to the same thread, waits for it: two never
// run at once. An automatic check that ends after a check by hand began reports nothing, since
// the check by hand tells the user, but still remembers what it saw.

#include "CheckScheduler.h"
#include "NetworkState.h"
#include "SeenMail.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class MailSession;

class AutoCheck : public QObject {
    Q_OBJECT
  public:
    // What one check needs: the server setting and the account.
    struct Request {
        QString server;
        QString user;
        QString password;
        bool apop = false;
    };
    // The request for a check, or nothing when there is nothing to check yet (no server or an
    // incomplete account: the check stays quiet, the first start's dialogs ask for them).
    using RequestSource = std::function<std::optional<Request>()>;
    // Whether the system says for sure that there is no network connection; asked on the
    // background thread.
    using NetworkDown = std::function<bool()>;

    // mail: the session the checks' calls go to, on the background thread, as a check by hand's
    // do.
    AutoCheck(RequestSource source, const QString& seenFile, MailSession& mail,
              QObject* parent = nullptr, Clock& clock = steadyClock(),
              NetworkDown networkDown = networkKnownDown);

    // Minutes between checks, 0 = off.
    void setInterval(qint32 minutes);
    qint32 interval() const { return m_scheduler.interval(); }
    bool isRunning() const { return m_running; }

    // A check by hand begins (true) or ends (false).
    void manualCheck(bool running);

  signals:
    // New mail: count is the number of messages on the server.
    void newMail(qint32 count);
    // The first failure after a success (or a check by hand): its text, and whether the server
    // could not be reached at all (the login or the listing failed otherwise).
    void failed(const QString& text, bool couldNotConnect);

  private:
    struct Result {
        enum class Outcome {
            Listed,        // listing holds what the server has
            Offline,       // the system reports no network connection; nothing was tried
            ConnectFailed, // error holds the session's text
            LoginFailed,   // the login or the listing failed; error holds the session's text
        };
        Outcome outcome = Outcome::Offline;
        MailboxListing listing;
        QString error;
    };
    // Runs on the background thread.
    static Result probe(MailSession& mail, const NetworkDown& networkDown, const Request& request);
    void rearm();
    void run();
    void take(const Result& result, const QString& account, quint64 generation);

    CheckScheduler m_scheduler;
    QTimer m_timer;
    RequestSource m_source;
    SeenMail m_seen;
    MailSession& m_mail;
    NetworkDown m_networkDown;
    bool m_running = false;
    bool m_manual = false;
    bool m_quiet = false;     // a failure was shown; the next ones are not
    quint64 m_generation = 0; // counts the checks by hand begun
};
