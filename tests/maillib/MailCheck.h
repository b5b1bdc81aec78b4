#pragma once
// The mail check's calls in the caller's order, with what came back, for the network tests and
// the benchmarks.

#include "nMail.h"

#include <QList>
#include <QString>

struct CheckedMessage {
    QString subject;
    QString date;
    QString from;
    QString header;
    QString body;
    qint32 size = 0;
    bool operator==(const CheckedMessage&) const = default;
};

struct CheckResult {
    qint32 handle = -1;
    qint32 count = 0;
    QList<CheckedMessage> messages;
    int failedCalls = 0;
    QString error; // NMailGetMessage after a failure
};

// Connect, log in, status + size + mail for 1..count, close. keep: keep the fetched messages
// (the benchmark drops them, as the program does).
inline CheckResult runMailCheck(const QString& server, const QString& user, const QString& pass,
                                bool apop, bool keep = true) {
    CheckResult r;
    QString b1(8192, u' '), b2(8192, u' '), b3(8192, u' '), b4(8192, u' ');
    const auto lastError = [] {
        QString buffer(8192, u' ');
        qint32 length = 8192;
        NMailGetMessage(0, buffer, length);
        return buffer.left(buffer.indexOf(QChar(u'\0')));
    };
    r.handle = NMailPop3Connect(server);
    if (r.handle == -1) {
        r.error = lastError();
        return r;
    }
    r.count = NMailPop3Authenticate(r.handle, user, pass, apop ? -1 : 0);
    if (r.count < 0)
        r.error = lastError();
    for (qint32 n = 1; n <= r.count; ++n) {
        CheckedMessage m;
        if (NMailPop3GetMailStatus(r.handle, n, b1, b2, b3, b4, 0) < 0)
            ++r.failedCalls;
        m.size = NMailPop3GetMailSize(r.handle, n);
        QString body(m.size + 1, u' ');
        if (NMailPop3GetMail(r.handle, n, b1, b2, b3, b4, body, 0, 0) < 0) {
            ++r.failedCalls;
            r.error = lastError();
        }
        if (keep) {
            m.subject = b1;
            m.date = b2;
            m.from = b3;
            m.header = b4;
            m.body = body;
            r.messages.append(m);
        }
    }
    NMailPop3Close(r.handle);
    return r;
}
