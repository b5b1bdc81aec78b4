// What the automatic check costs: the real program dozing on a private Xvfb desktop against a
// local Dovecot holding messages it has already seen, once with the checks off and once with a
// check every 20 s (a shortened minute at INTERVAL=1). Prints the CPU used over each stretch and
// around each check (the first one also starts TLS and D-Bus for the program), and the resident
// memory before the first check, during it, and between and during the later ones.
//
//   bench_autocheck [seconds per stretch, default 120] [messages, default 1000] [plain]
//
// "plain": a Dovecot without TLS, to tell what starting TLS costs from what the check costs.

#include "Desktop.h"
#include "DovecotServer.h"
#include "FetchAll.h"
#include "ProcStat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kMinuteMs = 20000;

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// One stretch of running, sampled every 50 ms.
struct Stretch {
    qint64 ms = 0;
    qint64 cpuMs = 0;
    QList<qint64> checkCpuMs; // each check's CPU, from just before it to just after
    qint64 rssBeforeKb = 0;   // median before the first check (all of it with checks off)
    qint64 rssFirstPeakKb = 0;
    qint64 rssBetweenKb = 0; // median after the first check
    qint64 rssLaterPeakKb = 0;
    bool quiet = false; // no notice and no error box
};

qint64 median(QList<qint64> v) {
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 120;
    const int messages = argc > 2 ? QByteArray(argv[2]).toInt() : 1000;

    Desktop d;
    QString why;
    if (!d.start(&why) || !d.startSoundServer(&why)) {
        std::fprintf(stderr, "desktop: %s\n", qPrintable(why));
        return 1;
    }
    const bool plain = argc > 3 && QByteArray(argv[3]) == "plain";
    DovecotServer dovecot({.apop = true, .tls = !plain});
    if (!dovecot.start()) {
        std::fprintf(stderr, "dovecot: %s\n", qPrintable(dovecot.errorString()));
        return 1;
    }
    qputenv("SSL_CERT_FILE", QFile::encodeName(DovecotServer::caFile()));
    for (int n = 1; n <= messages; ++n)
        dovecot.addMessage("alice", "Subject: message " + QByteArray::number(n) + "\r\n\r\n" +
                                        QByteArray(1000, 'x') + "\r\n");

    const QString server = QStringLiteral("127.0.0.1:%1").arg(dovecot.pop3Port());
    const QString data = d.programFolder() + QStringLiteral("/★MailData/");
    writeFile(d.work() + QStringLiteral("/vbmail.ini"),
              "SMTP=\r\nPOP3=" + server.toLatin1() + "\r\nMAIL=\r\nAPOP=0\r\n");
    writeFile(data + QStringLiteral("iniIdPass.ini"),
              "[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\nNAME3=1\r\n");
    // Every message seen already: the checks find nothing new and show nothing.
    const UidResult seen =
        listUids(server, QStringLiteral("alice"), QStringLiteral("secret"), false, 5000);
    if (seen.count != messages || seen.uids.size() != messages) {
        std::fprintf(stderr, "listing the ids: %s\n", qPrintable(seen.error));
        return 1;
    }
    QByteArray seenFile = "A alice@127.0.0.1:" + QByteArray::number(dovecot.pop3Port()) + "\nN " +
                          QByteArray::number(seen.count) + " 1\n";
    for (const QString& id : seen.uids)
        seenFile += "U " + id.toLatin1() + '\n';
    writeFile(data + QStringLiteral("seen-uidl.txt"), seenFile);

    const qint64 tickMs = 1000 / sysconf(_SC_CLK_TCK);
    const auto measure = [&](int interval) {
        writeFile(data + QStringLiteral("ini.ini"),
                  "[EXEINI]\r\nNUMBER=0\r\nINTERVAL=" + QByteArray::number(interval) + "\r\n");
        QProcessEnvironment env = d.soundEnvironment();
        env.insert(QStringLiteral("SSL_CERT_FILE"), DovecotServer::caFile());
        env.insert(QStringLiteral("MOKOPON_TEST_MINUTE_MS"), QString::number(kMinuteMs));
        QProcess* p = d.launch(QString(), env);
        p->waitForStarted();
        const qint64 pid = p->processId();
        // Past the start-up, which is measured elsewhere.
        QThread::msleep(3000);
        struct Sample {
            qint64 ticks, rssKb;
            int logouts;
        };
        QList<Sample> samples;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < seconds * 1000LL) {
            samples.append({cpuTicks(pid), rssKb(pid), int(dovecot.log().count("Logged out"))});
            QThread::msleep(50);
        }
        Stretch s;
        s.ms = t.elapsed();
        s.cpuMs = (samples.last().ticks - samples.first().ticks) * tickMs;
        // A check ends with its logout: its CPU is what was used from 1.5 s before to 0.5 s after.
        QList<qsizetype> ends;
        for (qsizetype i = 1; i < samples.size(); ++i) {
            if (samples[i].logouts > samples[i - 1].logouts)
                ends << i;
        }
        for (qsizetype i : ends) {
            const qsizetype from = qMax<qsizetype>(0, i - 30);
            const qsizetype to = qMin<qsizetype>(samples.size() - 1, i + 10);
            s.checkCpuMs << (samples[to].ticks - samples[from].ticks) * tickMs;
        }
        const qsizetype first = ends.isEmpty() ? samples.size() : ends.first();
        QList<qint64> before, after;
        for (qsizetype i = 0; i < samples.size(); ++i) {
            if (i < first - 30)
                before << samples[i].rssKb;
            else if (i <= first + 10)
                s.rssFirstPeakKb = qMax(s.rssFirstPeakKb, samples[i].rssKb);
            else {
                after << samples[i].rssKb;
                s.rssLaterPeakKb = qMax(s.rssLaterPeakKb, samples[i].rssKb);
            }
        }
        s.rssBeforeKb = median(before);
        s.rssBetweenKb = median(after);
        s.quiet = d.findWindows(QStringLiteral("新着お知らせ")).isEmpty() &&
                  d.findWindows(QStringLiteral("エラー")).isEmpty();
        p->kill();
        p->waitForFinished(3000);
        return s;
    };

    const Stretch off = measure(0);
    const Stretch on = measure(1);
    std::printf("%d messages on the server, all seen before, %s; %d s per stretch\n", messages,
                plain ? "no TLS" : "STLS", seconds);
    std::printf("checks off:         CPU %.3f %% (%lld ms), RSS %lld kB\n",
                100.0 * double(off.cpuMs) / double(off.ms), off.cpuMs, off.rssBeforeKb);
    std::printf("a check every %d s: CPU %.3f %% (%lld ms), %lld checks\n", kMinuteMs / 1000,
                100.0 * double(on.cpuMs) / double(on.ms), on.cpuMs, qint64(on.checkCpuMs.size()));
    QStringList each;
    qint64 inChecks = 0;
    for (qint64 ms : on.checkCpuMs) {
        each << QString::number(ms);
        inChecks += ms;
    }
    const qint64 outsideMs = on.ms - 2000 * qint64(on.checkCpuMs.size());
    std::printf("  between checks: CPU %.3f %%\n",
                outsideMs > 0 ? 100.0 * double(on.cpuMs - inChecks) / double(outsideMs) : 0.0);
    std::printf("  CPU of each check (ms, 2 s around it): %s\n", qPrintable(each.join(u", ")));
    std::printf("  RSS before the first check %lld kB, peak during it %lld kB, between later "
                "checks %lld kB, peak during them %lld kB\n",
                on.rssBeforeKb, on.rssFirstPeakKb, on.rssBetweenKb, on.rssLaterPeakKb);
    if (!off.quiet || !on.quiet)
        std::printf("a notice or an error box showed: the figures are not of quiet checks\n");
    return 0;
}
