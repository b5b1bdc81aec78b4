#include "AutoCheck.h"

#include "BackgroundWork.h"
#include "MailClient.h"
#include "MessageBoxes.h"
#include "NetworkState.h"
#include "Pop3Address.h"

#include <limits>
#include <memory>

namespace {

// As the library hands it: at most 8191 characters.
QString lastMailError() {
    return MailClient::lastError().left(8191);
}

} // namespace

AutoCheck::AutoCheck(RequestSource source, const QString& seenFile, QObject* parent,
                     CheckScheduler::Clock& clock)
    : QObject(parent), m_scheduler(clock), m_source(std::move(source)), m_seen(seenFile) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AutoCheck::run);
}

AutoCheck::Result AutoCheck::probeMailbox(const Request& request) {
    Result result;
    if (networkKnownDown())
        return result; // Offline
    const qint32 handle = MailClient::connect(request.server);
    if (handle == -1) {
        result.outcome = Result::Outcome::ConnectFailed;
        result.error = lastMailError();
        return result;
    }
    MailboxListing& listing = result.listing;
    listing.count =
        MailClient::authenticateUidl(handle, request.user, request.password, request.apop ? -1 : 0,
                                     SeenMail::kMaxIds, listing.ids, listing.firstNumber);
    if (listing.count < 0) {
        result.outcome = Result::Outcome::LoginFailed;
        result.error = lastMailError();
        listing = {};
    } else {
        result.outcome = Result::Outcome::Listed;
        listing.idsKnown = listing.firstNumber > 0;
    }
    MailClient::close(handle);
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
        this, [probe = m_probe, request = *request, result] { *result = probe(request); },
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
    emit failed(result.error, result.outcome == Result::Outcome::ConnectFailed
                                  ? MessageBoxes::Icon::Critical
                                  : MessageBoxes::Icon::NoIcon);
}
