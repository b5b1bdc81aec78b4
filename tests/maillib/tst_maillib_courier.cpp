// The mail library against a real Courier POP3 server started by the test, whose login process
// hands the session to a new mailbox process and drops what it had read past the password; and
// the same checks against Dovecot, for the figures.

#include "CourierServer.h"
#include "DovecotServer.h"
#include "FetchAll.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>

namespace {

QByteArray testMessage(int i) {
    return "From: Sender <s@example.jp>\r\nSubject: Test " + QByteArray::number(i) +
           "\r\n\r\nBody " + QByteArray::number(i) + "\r\n..dot\r\n";
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

} // namespace

class TestMaillibCourier : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void checks_data();
    void checks();

  private:
    CourierServer m_courier;
    DovecotServer m_dovecot{{.apop = true, .tls = true}};
};

void TestMaillibCourier::initTestCase() {
    QVERIFY2(m_courier.start(), qPrintable(m_courier.errorString()));
    QVERIFY2(m_dovecot.start(), qPrintable(m_dovecot.errorString()));
    QVERIFY(m_courier.clearMailbox() && m_dovecot.clearMailbox("alice"));
    for (int i = 1; i <= 3; ++i)
        QVERIFY(m_courier.addMessage(testMessage(i)) &&
                m_dovecot.addMessage("alice", testMessage(i)));
}

void TestMaillibCourier::checks_data() {
    QTest::addColumn<QString>("server");
    QTest::newRow("courier, STLS") << QStringLiteral("127.0.0.1:%1").arg(m_courier.pop3Port());
    QTest::newRow("courier, pop3s")
        << QStringLiteral("pop3s://localhost:%1").arg(m_courier.pop3sPort());
    QTest::newRow("dovecot, STLS") << QStringLiteral("127.0.0.1:%1").arg(m_dovecot.pop3Port());
    QTest::newRow("dovecot, pop3s")
        << QStringLiteral("pop3s://localhost:%1").arg(m_dovecot.pop3sPort());
}

// Counting, fetching and the automatic check's look, timed (the median of five).
void TestMaillibCourier::checks() {
    QFETCH(QString, server);
    QList<double> login, fetch, look;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        Pop3Session session(mailSettings());
        QVERIFY2(session.open(server), qPrintable(session.error()));
        const qint32 count = session.login("alice", "secret", false);
        session.close();
        login << t.nsecsElapsed() / 1e6;
        QVERIFY2(count == 3, qPrintable(session.error()));

        t.restart();
        const FetchResult r = fetchAll(server, "alice", "secret", false);
        fetch << t.nsecsElapsed() / 1e6;
        QVERIFY2(r.ok() && r.count == 3, qPrintable(r.error));
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(r.messages.at(i - 1).subject, QStringLiteral("Test %1").arg(i));
            QCOMPARE(r.messages.at(i - 1).body, QStringLiteral("Body %1\r\n..dot\r\n").arg(i));
        }

        t.restart();
        const UidResult u = listUids(server, "alice", "secret", false, 100);
        look << t.nsecsElapsed() / 1e6;
        QVERIFY2(u.failedIn == FetchResult::Stage::None, qPrintable(u.error));
        QCOMPARE(u.count, 3);
        QCOMPARE(u.uids.size(), 3);
    }
    qInfo("%s: login and count %.1f ms, fetching 3 messages %.1f ms, automatic check %.1f ms",
          QTest::currentDataTag(), median(login), median(fetch), median(look));
}

QTEST_GUILESS_MAIN(TestMaillibCourier)
#include "tst_maillib_courier.moc"
