#include "FetchAll.h"

#include "MailLibrary.h"

QString lastMailError() {
    QString buffer(8192, u' ');
    qint32 length = 8192;
    const qint32 chars = copyLastMailError(0, buffer, length);
    return buffer.left(chars);
}

FetchResult fetchAll(const QString& server, const QString& user, const QString& pass, bool apop,
                     KeepMessages keep) {
    FetchResult r;
    const auto fail = [&r](FetchResult::Stage stage, qint32 number = 0) {
        r.failedIn = stage;
        r.failedMessage = number;
        r.error = lastMailError();
    };
    r.handle = pop3Connect(server);
    if (r.handle == -1) {
        fail(FetchResult::Stage::Connect);
        return r;
    }
    r.count = pop3Authenticate(r.handle, user, pass, apop ? -1 : 0);
    if (r.count < 0)
        fail(FetchResult::Stage::Login);
    for (qint32 n = 1; n <= r.count && r.ok(); ++n) {
        FetchedMessage m;
        if (pop3FetchHeader(r.handle, n, m.subject, m.date, m.from, m.header, 0) < 0) {
            fail(FetchResult::Stage::Message, n);
            break;
        }
        m.size = pop3MailSize(r.handle, n);
        if (pop3FetchMail(r.handle, n, m.subject, m.date, m.from, m.header, m.body, 0, 0) < 0) {
            fail(FetchResult::Stage::Message, n);
            break;
        }
        if (keep == KeepMessages::All)
            r.messages.append(m);
        r.last = std::move(m);
    }
    pop3Close(r.handle);
    return r;
}

UidResult listUids(const QString& server, const QString& user, const QString& pass, bool apop,
                   qint32 keep) {
    UidResult r;
    const qint32 handle = pop3Connect(server);
    if (handle == -1) {
        r.failedIn = FetchResult::Stage::Connect;
        r.error = lastMailError();
        return r;
    }
    r.count = pop3AuthenticateUidl(handle, user, pass, apop ? -1 : 0, keep, r.uids, r.firstNumber);
    if (r.count < 0) {
        r.failedIn = FetchResult::Stage::Login;
        r.error = lastMailError();
    }
    pop3Close(handle);
    return r;
}
