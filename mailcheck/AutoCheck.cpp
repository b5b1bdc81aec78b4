#include "AutoCheck.h"

#include "BackgroundThread.h"
#include "MailSession.h"
#include "Pop3Address.h"

#include <limits>
#include <memory>

AutoCheck::AutoCheck(RequestSource source, const QString& seenFile, MailSession& mail,
                     QObject* parent, Clock& clock, NetworkDown networkDown)
    : QObject(parent), m_scheduler(clock), m_source(std::move(source)), m_seen(seenFile),
      m_mail(mail), m_networkDown(std::move(networkDown)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AutoCheck::run);
}

AutoCheck::Result AutoCheck::probe(MailSession& mail, const NetworkDown& networkDown,
                                   const Request& request) {
    Result result;
    if (networkDown && networkDown())
        return result; // Offline
    const MailResult<> opened = mail.open(request.server);
    if (!opened.ok()) {
        result.outcome = Result::Outcome::ConnectFailed;
        result.error = opened.error;
        return result;
    }
    const MailResult<MailUidListing> listed =
        mail.loginListingUids(request.user, request.password, request.apop, SeenMail::kMaxIds);
    if (listed.ok()) {
        result.outcome = Result::Outcome::Listed;
        result.listing = {listed.value->count, listed.value->idsKnown, listed.value->firstNumber,
                          listed.value->ids};
    } else {
        result.outcome = Result::Outcome::LoginFailed;
        result.error = listed.error;
    }
    mail.close();
    return result;
}

void AutoCheck::setInterval(qint32 minutes) {
    m_scheduler.setInterval(minutes);
    rearm();
}

void AutoCheck::manualCheck(bool running) {
    m_manual = running;
    if (running) {
        ++m_generation;
        m_quiet = false;
    }
}

void AutoCheck::rearm() {
    const qint64 ms = m_scheduler.msUntilDue();
    if (ms < 0)
        m_timer.stop();
    else
        m_timer.start(int(qMin<qint64>(ms, std::numeric_limits<int>::max())));
}

void AutoCheck::run() {
    if (m_scheduler.msUntilDue() != 0) {
        rearm(); // woken early
        return;
    }
    if (m_manual) {
        m_scheduler.postponed();
        rearm();
        return;
    }
    const std::optional<Request> request = m_source ? m_source() : std::nullopt;
    const auto address = request ? Pop3Address::parse(request->server) : std::nullopt;
    if (!request) {
        m_scheduler.finished();
        rearm();
        return;
    }
    // A setting that names no server fails in the library as it does for a check by hand.
    const QString account =
        address ? SeenMail::account(request->user, address->host, address->port) : QString();
    m_scheduler.started();
    m_running = true;
    auto result = std::make_shared<Result>();
    startInBackground(
        this,
        [&mail = m_mail, networkDown = m_networkDown, request = *request, result] {
            *result = probe(mail, networkDown, request);
        },
        [this, result, account, generation = m_generation] { take(*result, account, generation); });
}

void AutoCheck::take(const Result& result, const QString& account, quint64 generation) {
    m_running = false;
    // A check by hand that began meanwhile tells the user; this one only remembers.
    const bool superseded = generation != m_generation;
    if (result.outcome == Result::Outcome::Offline) {
        m_scheduler.postponed();
        rearm();
        return;
    }
    m_scheduler.finished();
    rearm();
    if (result.outcome == Result::Outcome::Listed) {
        m_quiet = false;
        const bool fresh = !account.isEmpty() && m_seen.takeNew(account, result.listing);
        if (fresh && !superseded)
            emit newMail(result.listing.count);
        return;
    }
    if (m_quiet || superseded)
        return;
    m_quiet = true;
    emit failed(result.error, result.outcome == Result::Outcome::ConnectFailed);
}
