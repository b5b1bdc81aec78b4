// The program's side of the mail process: what the real mokopon-mail hands back is what the
// library gives in this process, the STLS memory stays the program's, and a process that ends,
// hangs, writes garbage or is stopped fails the call with a text, never a hang.

#include "FetchAll.h"
#include "MailClient.h"
#include "MailLibrary.h"
#include "ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

namespace {

class RecordedTlsMemory final : public TlsServerMemory {
  public:
    bool offeredStls(const QString& host, quint16 port) override {
        return servers.contains({host, port});
    }
    void rememberStls(const QString& host, quint16 port) override { servers.insert({host, port}); }
    QSet<std::pair<QString, quint16>> servers;
};

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
    void initTestCase() {
        QCOMPARE(startMailLibrary(), 0);
        QCOMPARE(MailClient::start(), 0);
    }
    void init() {
        MailClient::setProcessCommand(QStringLiteral(MAIL_PROCESS));
        MailClient::setTlsServerMemory(nullptr);
        setMailTlsServerMemory(nullptr);
    }

    void servesWhatTheLibraryGives() {
        ScriptedPop3Server s({.uidl = true, .messages = messages()});
        const FetchResult library = fetchAll(at(s), "alice", "secret", false);
        QVERIFY2(library.ok(), qPrintable(library.error));
        const UidResult libraryUids = listUids(at(s), "alice", "secret", false, 1);

        const qint32 handle = MailClient::connect(at(s));
        QVERIFY2(handle >= 0, qPrintable(MailClient::lastError()));
        QCOMPARE(MailClient::authenticate(handle, u"alice"_qs, u"secret"_qs, 0), library.count);
        for (qint32 n = 1; n <= library.count; ++n) {
            FetchedMessage got;
            QString fields[4];
            QCOMPARE(MailClient::fetchHeader(handle, n, fields), 0);
            got.size = MailClient::mailSize(handle, n);
            QCOMPARE(MailClient::fetchMail(handle, n, fields, got.body), 0);
            got.subject = fields[0];
            got.date = fields[1];
            got.from = fields[2];
            got.header = fields[3];
            QCOMPARE(got, library.messages[n - 1]);
        }
        QCOMPARE(MailClient::close(handle), 0);

        const qint32 looks = MailClient::connect(at(s));
        QStringList uids;
        qint32 first = -1;
        QCOMPARE(MailClient::authenticateUidl(looks, u"alice"_qs, u"secret"_qs, 0, 1, uids, first),
                 libraryUids.count);
        QCOMPARE(uids, libraryUids.uids);
        QCOMPARE(first, libraryUids.firstNumber);
        QCOMPARE(MailClient::close(looks), 0);
    }

    // The process asks the program's memory: a server that offered STLS once and no longer does
    // gets no password, though every connection is a new process.
    void stlsMemoryIsTheProgramsOwn() {
        RecordedTlsMemory memory;
        MailClient::setTlsServerMemory(&memory);
        ScriptedPop3Server s(
            {.messages = messages(), .fault = ScriptedPop3Server::Fault::StlsFirstOnly});
        QCOMPARE(MailClient::connect(at(s)), -1);
        QVERIFY(memory.servers.contains({u"127.0.0.1"_qs, s.port()}));
        const qint32 handle = MailClient::connect(at(s));
        QVERIFY2(handle >= 0, qPrintable(MailClient::lastError()));
        QCOMPARE(MailClient::authenticate(handle, u"alice"_qs, u"secret"_qs, 0), -1);
        QVERIFY2(MailClient::lastError().contains(u"以前は暗号化通信"),
                 qPrintable(MailClient::lastError()));
        MailClient::close(handle);
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
        if (script.isEmpty())
            MailClient::setProcessCommand(u"/nonexistent/mokopon-mail"_qs);
        else
            MailClient::setProcessCommand(u"sh"_qs, {u"-c"_qs, script});
        if (checkDeadlineMs)
            MailClient::setOption(MailOptionCheckDeadline, checkDeadlineMs);
        QElapsedTimer t;
        t.start();
        const qint32 handle = MailClient::connect(u"127.0.0.1:1"_qs);
        QCOMPARE(handle >= 0, connects);
        if (connects) {
            QCOMPARE(MailClient::authenticate(handle, u"alice"_qs, u"secret"_qs, 0), -1);
            // The connection is dropped: later calls fail with the same text.
            QString fields[4];
            QCOMPARE(MailClient::fetchHeader(handle, 1, fields), -1);
            QCOMPARE(MailClient::close(handle), 0);
        }
        MailClient::setOption(MailOptionCheckDeadline, kMailCheckDeadlineMs);
        QVERIFY2(MailClient::lastError().contains(text), qPrintable(MailClient::lastError()));
        QVERIFY2(t.elapsed() < (checkDeadlineMs ? 20000 : 5000),
                 qPrintable(QString::number(t.elapsed())));
    }

    // Quitting ends the process a connect waits on (a server that never greets), at once: timed
    // from the stop, as the process's own start takes seconds under Wine on a busy machine.
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
        const qint32 handle = MailClient::connect(at(s));
        quit.join();
        const qint64 afterStop = t.elapsed() - stoppedAt;
        qInfo("connected after %lld ms, ended %lld ms after the stop", qint64(stoppedAt),
              afterStop);
        QCOMPARE(handle, -1);
        QVERIFY2(MailClient::lastError().contains(u"中止"), qPrintable(MailClient::lastError()));
        QVERIFY2(afterStop < 2000, qPrintable(QString::number(afterStop)));
        QCOMPARE(MailClient::connect(at(s)), -1);
        QVERIFY(MailClient::lastError().contains(u"開始されていません"));
        MailClient::start();
    }
};

QTEST_GUILESS_MAIN(TestMailProcess)
#include "test_mail_process.moc"
