#include "FetchAll.h"

namespace {

RecordedTlsMemory& tlsMemory() {
    static RecordedTlsMemory memory;
    return memory;
}

} // namespace

Pop3Session::Settings& mailSettings() {
    static Pop3Session::Settings settings{.tlsMemory = &tlsMemory()};
    return settings;
}

void resetMailSettings() {
    tlsMemory().servers.clear();
    mailSettings() = {.tlsMemory = &tlsMemory()};
}

FetchResult fetchAll(const QString& server, const QString& user, const QString& pass, bool apop,
                     KeepMessages keep) {
    FetchResult r;
    Pop3Session session(mailSettings());
    const auto fail = [&](FetchResult::Stage stage, qint32 number = 0) {
        r.failedIn = stage;
        r.failedMessage = number;
        r.error = session.error();
    };
    if (!session.open(server)) {
        fail(FetchResult::Stage::Connect);
        return r;
    }
    r.count = session.login(user, pass, apop);
    if (r.count < 0)
        fail(FetchResult::Stage::Login);
    for (qint32 n = 1; n <= r.count && r.ok(); ++n) {
        FetchedMessage m;
        Pop3Session::Fields fields;
        if (!session.status(n, fields)) {
            fail(FetchResult::Stage::Message, n);
            break;
        }
        m.size = qint32(session.size(n));
        if (!session.fetch(n, fields, m.body)) {
            fail(FetchResult::Stage::Message, n);
            break;
        }
        m.subject = fields.subject;
        m.date = fields.date;
        m.from = fields.from;
        m.header = fields.header;
        if (keep == KeepMessages::All)
            r.messages.append(m);
        r.last = std::move(m);
    }
    session.close();
    return r;
}

UidResult listUids(const QString& server, const QString& user, const QString& pass, bool apop,
                   qint32 keep) {
    UidResult r;
    Pop3Session session(mailSettings());
    if (!session.open(server)) {
        r.failedIn = FetchResult::Stage::Connect;
        r.error = session.error();
        return r;
    }
    Pop3Session::UidListing listing;
    if (!session.loginListingUids(user, pass, apop, keep, listing)) {
        r.count = -1;
        r.failedIn = FetchResult::Stage::Login;
        r.error = session.error();
    } else {
        r.count = listing.count;
        if (listing.uidsKnown) {
            r.firstNumber = listing.firstNumber;
            for (const QByteArray& uid : std::as_const(listing.uids))
                r.uids.append(QString::fromLatin1(uid));
        }
    }
    session.close();
    return r;
}
