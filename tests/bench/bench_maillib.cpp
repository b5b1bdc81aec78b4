// Mail library benchmark: the library fetching every message, one at a time as a caller asks
// (fetchAll), beside curl fetching the same messages over one connection and beside a bare
// pipelined client, on a local Dovecot, then the same through a proxy that adds 10 ms and 50 ms
// each way, then 20 messages of 5 MB with the peak memory of each. Prints the best and the worst
// of several runs and the load average; not a pass/fail test.
//
//   bench_maillib                 run everything (curl through the 50 ms proxy takes minutes)
//   bench_maillib --quick         no curl through the proxy
//   bench_maillib --big           only the 5 MB messages
//   bench_maillib --against PROGRAM   also times another build of this benchmark (its library)
//   bench_maillib --time URL USER PASS    ms of one fetchAll in this process, after a warm-up
//   bench_maillib --check URL USER PASS   one fetchAll in this process (for /usr/bin/time)

#include "DelayProxy.h"
#include "DovecotServer.h"
#include "FetchAll.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

QByteArray messageOf(int i, qsizetype bytes) {
    QByteArray m = "From: bench@example.jp\r\nTo: alice@example.jp\r\nSubject: bench " +
                   QByteArray::number(i) + "\r\nDate: Mon, 1 Jan 2024 00:00:00 +0900\r\n\r\n";
    const QByteArray line = QByteArray(76, char('a' + i % 26)) + "\r\n";
    while (m.size() + line.size() <= bytes)
        m += line;
    m += QByteArray(bytes - m.size() - 2, 'z') + "\r\n";
    return m;
}

// Every message fetched and dropped, as the program drops them; the count, or -1 on a failure.
int fetchCount(const QString& url, const QString& user, const QString& pass) {
    const FetchResult r = fetchAll(url, user, pass, false, KeepMessages::LastOnly);
    return r.ok() ? r.count : -1;
}

// The least a pipelined client can do: STLS, log in, every RETR at once, count the ends.
int bareClient(quint16 port, const QByteArray& user, const QByteArray& pass, int count) {
    QSslSocket s;
    s.connectToHost("127.0.0.1", port);
    s.setPeerVerifyName("localhost");
    QSslConfiguration config = s.sslConfiguration();
    config.setCaCertificates(QSslCertificate::fromPath(DovecotServer::caFile()));
    s.setSslConfiguration(config);
    const auto line = [&s] {
        while (!s.canReadLine())
            if (!s.waitForReadyRead(10000))
                return QByteArray();
        return s.readLine();
    };
    if (!s.waitForConnected(5000) || !line().startsWith("+OK"))
        return -1;
    s.write("STLS\r\n");
    if (!line().startsWith("+OK"))
        return -1;
    s.startClientEncryption();
    if (!s.waitForEncrypted(5000))
        return -1;
    // The login is not pipelined, by any client that must work with every server: some hand
    // the session to a new process at the password and lose what came behind it.
    for (const QByteArray& command : {"USER " + user, "PASS " + pass}) {
        s.write(command + "\r\n");
        s.flush();
        if (!line().startsWith("+OK"))
            return -1;
    }
    QByteArray commands;
    for (int n = 1; n <= count; ++n)
        commands += "RETR " + QByteArray::number(n) + "\r\n";
    s.write(commands + "QUIT\r\n");
    s.flush();
    int ends = 0;
    QByteArray tail;
    QByteArray chunk(65536, '\0');
    while (ends < count) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(10000))
            return -1;
        const qint64 n = s.read(chunk.data(), chunk.size());
        const QByteArray window = tail + QByteArray::fromRawData(chunk.constData(), n);
        for (qsizetype at = window.indexOf("\r\n.\r\n"); at >= 0;
             at = window.indexOf("\r\n.\r\n", at + 5))
            ++ends;
        tail = window.right(4);
    }
    return ends;
}

// Runs a program; its wall time in ms, and its peak memory in kB when measured with time(1).
struct Run {
    double ms = -1;
    qint64 peakKb = -1;
    int exitCode = -1;
    QByteArray output;
};

Run runTimed(const QString& program, const QStringList& args) {
    QProcess p;
    if (program == "curl")
        p.setStandardOutputFile(QProcess::nullDevice());
    QStringList all{"-f", "%M"};
    all << program << args;
    QElapsedTimer t;
    t.start();
    p.start("/usr/bin/time", all);
    p.waitForFinished(600000);
    Run r;
    r.ms = double(t.nsecsElapsed()) / 1e6;
    r.exitCode = p.exitCode();
    r.output = p.readAllStandardOutput().trimmed();
    const QList<QByteArray> lines = p.readAllStandardError().trimmed().split('\n');
    r.peakKb = lines.last().trimmed().toLongLong();
    return r;
}

QStringList curlArgs(quint16 port, const QString& user, const QString& pass, int count) {
    QStringList args{"-s", "--ssl-reqd",      "--cacert", DovecotServer::caFile(),
                     "-u", user + u':' + pass};
    for (int n = 1; n <= count; ++n)
        args << QStringLiteral("pop3://localhost:%1/%2").arg(port).arg(n);
    return args;
}

// The least and the most of several runs, in ms: the machine is shared, so the least is the
// code's own time and the spread shows how much others added.
struct Times {
    double best = 1e18;
    double worst = 0;
    void add(double ms) {
        best = std::min(best, ms);
        worst = std::max(worst, ms);
    }
    QString text() const {
        return QStringLiteral("%1 ms (to %2)").arg(best, 7, 'f', 1).arg(worst, 0, 'f', 1);
    }
};

QString loadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
}

void say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == "--time") {
        // A connect and close first: TLS and the session start up outside the time.
        {
            Pop3Session warmUp(mailSettings());
            warmUp.open(args[2]);
            warmUp.close();
        }
        QElapsedTimer t;
        t.start();
        const int count = fetchCount(args[2], args[3], args[4]);
        std::printf("%.3f\n", count < 0 ? -1.0 : double(t.nsecsElapsed()) / 1e6);
        return count < 0 ? 1 : 0;
    }
    if (args.size() >= 5 && args[1] == "--check") {
        const int count = fetchCount(args[2], args[3], args[4]);
        std::printf("%d\n", count);
        return count < 0 ? 1 : 0;
    }

    DovecotServer dovecot;
    if (!dovecot.start()) {
        say("Dovecot did not start: " + dovecot.errorString());
        return 1;
    }
    say(QStringLiteral("preparing 1000 x 10 KB (alice) and 20 x 5 MB (bob) ..."));
    for (int i = 1; i <= 1000; ++i)
        dovecot.addMessage("alice", messageOf(i, 10 * 1024));
    for (int i = 1; i <= 20; ++i)
        dovecot.addMessage("bob", messageOf(i, 5 * 1024 * 1024));
    const quint16 port = dovecot.pop3Port();
    const QString self = QCoreApplication::applicationFilePath();
    const QString url = QStringLiteral("pop3://localhost:%1").arg(port);
    // Dovecot indexes a new Maildir on first sight; that is not what is measured.
    fetchCount(url, "alice", "secret");
    fetchCount(url, "bob", "hunter2");

    const bool bigOnly = args.contains("--big");
    // --quick: curl only on the local case, where it takes a second rather than minutes.
    const bool quick = args.contains("--quick");
    // --against PROGRAM: another build of this benchmark, whose library is timed in the same runs,
    // turn about with this one's, each fetchAll in a process of its own (--time).
    const QString against = args.value(args.indexOf("--against") + 1);
    const bool compare = args.contains("--against") && !against.isEmpty();
    const auto otherMs = [&](const QString& at, const QString& user, const QString& pass) {
        QProcess p;
        p.start(against, {"--time", at, user, pass});
        p.waitForFinished(600000);
        return p.readAllStandardOutput().trimmed().toDouble();
    };
    const int runs = 7;
    say(QStringLiteral("load average before: %1").arg(loadAverage()));
    if (!bigOnly) {
        // The local case, then each delay a proxy adds each way.
        for (int delayMs : {0, 10, 50}) {
            std::optional<DelayProxy> proxy;
            if (delayMs > 0)
                proxy.emplace(port, delayMs);
            const quint16 to = proxy ? proxy->port() : port;
            const QString at = QStringLiteral("pop3://localhost:%1").arg(to);
            say(delayMs == 0
                    ? QStringLiteral("\n1000 messages of 10 KB, local Dovecot, STLS (%1 runs)")
                          .arg(runs)
                    : QStringLiteral("\nthe same through a proxy adding %1 ms each way")
                          .arg(delayMs));
            // Turn about, so that a busy moment of the machine falls on each alike.
            int got = 0;
            int bareGot = 0;
            Times ours, other, bare;
            const auto timed = [](auto&& f) {
                QElapsedTimer t;
                t.start();
                f();
                return double(t.nsecsElapsed()) / 1e6;
            };
            for (int i = 0; i < runs; ++i) {
                ours.add(timed([&] { got = fetchCount(at, "alice", "secret"); }));
                if (compare)
                    other.add(otherMs(at, "alice", "secret"));
                bare.add(timed([&] { bareGot = bareClient(to, "alice", "secret", 1000); }));
            }
            say(QStringLiteral("  maillib fetchAll     %1  (%2 messages)")
                    .arg(ours.text())
                    .arg(got));
            if (compare)
                say(QStringLiteral("  the other build      %1  (%2x bare)")
                        .arg(other.text())
                        .arg(other.best / bare.best, 0, 'f', 2));
            say(QStringLiteral("  bare pipelined       %1  (%2 messages)")
                    .arg(bare.text())
                    .arg(bareGot));
            QString vsCurl;
            if (delayMs == 0 || !quick) {
                Times curl;
                for (int i = 0; i < (delayMs == 0 ? runs : 1); ++i)
                    curl.add(runTimed("curl", curlArgs(to, "alice", "secret", 1000)).ms);
                say(QStringLiteral("  curl, one connection %1").arg(curl.text()));
                vsCurl = QStringLiteral("curl / maillib = %1x (want >= %2), ")
                             .arg(curl.best / ours.best, 0, 'f', 2)
                             .arg(delayMs == 0 ? 2 : 10);
            }
            say(QStringLiteral("  %1maillib / bare = %2x (want <= %3)")
                    .arg(vsCurl)
                    .arg(ours.best / bare.best, 0, 'f', 2)
                    .arg(delayMs == 0 ? 1.5 : 1.2));
        }
    }

    say(QStringLiteral("\n20 messages of 5 MB, local Dovecot, STLS (%1 runs)").arg(runs));
    int big = 0;
    Times bigOurs, bigOther, bigCurl;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        big = fetchCount(url, "bob", "hunter2");
        bigOurs.add(double(t.nsecsElapsed()) / 1e6);
        if (compare)
            bigOther.add(otherMs(url, "bob", "hunter2"));
        bigCurl.add(runTimed("curl", curlArgs(port, "bob", "hunter2", 20)).ms);
    }
    say(QStringLiteral("  maillib fetchAll     %1  (%2 messages)").arg(bigOurs.text()).arg(big));
    if (compare)
        say(QStringLiteral("  the other build      %1  (%2x curl)")
                .arg(bigOther.text())
                .arg(bigOther.best / bigCurl.best, 0, 'f', 2));
    say(QStringLiteral("  curl, one connection %1").arg(bigCurl.text()));
    say(QStringLiteral("  maillib / curl = %1x (want <= 1.2)")
            .arg(bigOurs.best / bigCurl.best, 0, 'f', 2));

    // Peak memory of whole processes: a login only, every message fetched, and curl.
    const Run base = runTimed(self, {"--check", url, "bob", "wrong"});
    const Run fetched = runTimed(self, {"--check", url, "bob", "hunter2"});
    const Run curlMem = runTimed("curl", curlArgs(port, "bob", "hunter2", 20));
    say(QStringLiteral("  peak memory: login only %1 kB; fetchAll %2 kB (+%3 kB, %4 messages); "
                       "curl %5 kB")
            .arg(base.peakKb)
            .arg(fetched.peakKb)
            .arg(fetched.peakKb - base.peakKb)
            .arg(QString::fromLatin1(fetched.output))
            .arg(curlMem.peakKb));
    say(QStringLiteral("load average after: %1").arg(loadAverage()));
    return 0;
}
