// The program's side of the mail process: what the real mokopon-mail hands back is what the
// POP3 session gives in this process, the STLS memory stays the program's, and a process that
// ends, hangs, writes garbage or is stopped fails the call with a text, never a hang.

#include "FetchAll.h"
#include "MailClient.h"
#include "ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

namespace {

QList<QByteArray> messages() {
    return {
        "Subject: one\r\nFrom: a@example.jp\r\n\r\nbody 1\r\n",
        "Subject: =?UTF-8?B?5pel5pys?=\r\nDate: Tue, 2 Jan 2024 10:00:00 +0900\r\n\r\nbody 2\r\n"};
}

QString at(const ScriptedPop3Server& s) {
    return QStringLiteral("127.0.0.1:%1").arg(s.port());
}

// A reply to the connect that says it worked.
constexpr char kConnected[] = R"(printf '\000\000\000\011\011\000\000\000\000\377\377\377\377'; )";

} // namespace

class TestMailProcess : public QObject {
    Q_OBJECT

  private slots:
    void init() { resetMailSettings(); }

    void servesWhatTheSessionGives() {
        ScriptedPop3Server s({.uidl = true, .messages = messages()});
        const FetchResult direct = fetchAll(at(s), "alice", "secret", false);
        QVERIFY2(direct.ok(), qPrintable(direct.error));
        const UidResult directUids = listUids(at(s), "alice", "secret", false, 1);

        MailClient mail({.program = QStringLiteral(MAIL_PROCESS)});
        const MailResult<> opened = mail.open(at(s));
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        const MailResult<qint32> login = mail.login(u"alice"_qs, u"secret"_qs, false);
        QVERIFY2(login.ok(), qPrintable(login.error));
        QCOMPARE(*login.value, direct.count);
        for (qint32 n = 1; n <= direct.count; ++n) {
            const MailResult<MailHeaderFields> header = mail.header(n);
            QVERIFY2(header.ok(), qPrintable(header.error));
            const qint32 size = mail.size(n);
            const MailResult<MailMessage> m = mail.fetch(n);
            QVERIFY2(m.ok(), qPrintable(m.error));
            QCOMPARE(header.value->subject, m.value->fields.subject);
            const FetchedMessage got{m.value->fields.subject, m.value->fields.date,
                                     m.value->fields.from,    m.value->fields.header,
                                     m.value->body,           size};
            QCOMPARE(got, direct.messages[n - 1]);
        }
        mail.close();

        QVERIFY(mail.open(at(s)).ok());
        const MailResult<MailUidListing> looks =
            mail.loginListingUids(u"alice"_qs, u"secret"_qs, false, 1);
        QVERIFY2(looks.ok(), qPrintable(looks.error));
        QCOMPARE(looks.value->count, directUids.count);
        QCOMPARE(looks.value->ids, directUids.uids);
        QCOMPARE(looks.value->firstNumber, directUids.firstNumber);
        QVERIFY(looks.value->idsKnown);
        mail.close();
    }

    // The process asks the program's memory: a server that offered STLS once and no longer does
    // gets no password, though every connection is a new process.
    void stlsMemoryIsTheProgramsOwn() {
        RecordedTlsMemory memory;
        MailClient mail({.tlsMemory = &memory, .program = QStringLiteral(MAIL_PROCESS)});
        ScriptedPop3Server s(
            {.messages = messages(), .fault = ScriptedPop3Server::Fault::StlsFirstOnly});
        QVERIFY(!mail.open(at(s)).ok());
        QVERIFY(memory.servers.contains({u"127.0.0.1"_qs, s.port()}));
        const MailResult<> opened = mail.open(at(s));
        QVERIFY2(opened.ok(), qPrintable(opened.error));
        const MailResult<qint32> login = mail.login(u"alice"_qs, u"secret"_qs, false);
        QVERIFY(!login.ok());
        QVERIFY2(login.error.contains(u"以前は暗号化通信"), qPrintable(login.error));
        mail.close();
        QVERIFY(!s.commands().contains("PASS secret"));
    }

    void brokenProcessFailsTheCall_data() {
        QTest::addColumn<QString>("script"); // sh, in place of mokopon-mail; empty: none at all
        QTest::addColumn<bool>("connects");  // the connect is answered, the login fails
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("checkDeadlineMs");
        const QString ended = u"途中で終了"_qs, garbled = u"不正な応答"_qs;
        const QString ok = QLatin1String(kConnected);
        QTest::newRow("cannot start") << QString() << false << u"起動できません"_qs << 0;
        QTest::newRow("ends at once") << u"exit 0"_qs << false << ended << 0;
        QTest::newRow("ends before its reply") << ok + u"exit 0"_qs << true << ended << 0;
        QTest::newRow("frame over the bound")
            << uR"(printf '\377\377\377\377'; exec cat >/dev/null)"_qs << false << garbled << 0;
        QTest::newRow("frame over the bound after a reply")
            << ok + uR"(printf '\100\000\000\001'; exec cat >/dev/null)"_qs << true << garbled << 0;
        QTest::newRow("unknown frame")
            << uR"(printf '\000\000\000\003abc'; exec cat >/dev/null)"_qs << false << garbled << 0;
        QTest::newRow("reply cut short")
            << ok + uR"(printf '\000\000\000\001\011'; exec cat >/dev/null)"_qs << true << garbled
            << 0;
        // Past the check deadline the wait ends after the margin alone.
        QTest::newRow("never answers") << u"exec cat >/dev/null"_qs << false << u"時間内"_qs << 1;
    }
    void brokenProcessFailsTheCall() {
        QFETCH(QString, script);
        QFETCH(bool, connects);
        QFETCH(QString, text);
        QFETCH(int, checkDeadlineMs);
#ifdef Q_OS_WIN
        if (!script.isEmpty())
            QSKIP("the broken processes are POSIX shell scripts");
#endif
        MailClient::Setup setup;
        if (script.isEmpty())
            setup.program = u"/nonexistent/mokopon-mail"_qs;
        else
            setup = {.program = u"sh"_qs, .arguments = {u"-c"_qs, script}};
        if (checkDeadlineMs)
            setup.options = {{MailOptionCheckDeadline, checkDeadlineMs}};
        MailClient mail(setup);
        QElapsedTimer t;
        t.start();
        const MailResult<> opened = mail.open(u"127.0.0.1:1"_qs);
        QCOMPARE(opened.ok(), connects);
        QString error = opened.error;
        if (connects) {
            const MailResult<qint32> login = mail.login(u"alice"_qs, u"secret"_qs, false);
            QVERIFY(!login.ok());
            error = login.error;
            // The connection is dropped: later calls fail with the same text.
            QCOMPARE(mail.header(1).error, error);
            mail.close();
        }
        QVERIFY2(error.contains(text), qPrintable(error));
        QVERIFY2(t.elapsed() < (checkDeadlineMs ? 20000 : 5000),
                 qPrintable(QString::number(t.elapsed())));
    }

    // Quitting ends the process an open waits on (a server that never greets), at once: timed
    // from the stop, as the process's own start takes seconds under Wine on a busy machine. It is
    // the last case, since no open works after it.
    void stopEndsTheWaitingCall() {
        ScriptedPop3Server s({.messages = {}, .fault = ScriptedPop3Server::Fault::SilentGreeting});
        QElapsedTimer t;
        t.start();
        std::atomic<qint64> stoppedAt = -1;
        std::thread quit([&] {
            while (s.connections() == 0)
                std::this_thread::yield();
            stoppedAt = t.elapsed();
            MailClient::stop();
        });
        MailClient mail({.program = QStringLiteral(MAIL_PROCESS)});
        const MailResult<> opened = mail.open(at(s));
        quit.join();
        const qint64 afterStop = t.elapsed() - stoppedAt;
        qInfo("connected after %lld ms, ended %lld ms after the stop", qint64(stoppedAt),
              afterStop);
        QVERIFY(!opened.ok());
        QVERIFY2(opened.error.contains(u"中止"), qPrintable(opened.error));
        QVERIFY2(afterStop < 2000, qPrintable(QString::number(afterStop)));
        const MailResult<> again = mail.open(at(s));
        QVERIFY(!again.ok());
        QVERIFY(again.error.contains(u"開始されていません"));
    }
};

QTEST_GUILESS_MAIN(TestMailProcess)
#include "test_mail_process.moc"
