// Desktop figures of the real program on a private Xvfb desktop with openbox, beside a minimal Qt
// program that shows one shaped window: time from just before the fork to the window's MapNotify
// (and, for comparison, to the window manager listing it as viewable), and the
// resident memory and CPU time used over a stretch of idle running in each state: dozing, panel
// open, companion barking into a PulseAudio null sink, after the bark stopped, and after a mail
// check against a local Dovecot (TLS through STLS). Under each state, the mappings whose resident
// memory changed most since the state before show where it went.
//
//   bench_desktop [seconds per CPU stretch, default 60; 0: the start figures only]
//                 [program folder, default this build's]
//
// Another build's program folder (bin/) measures that build in the same way, for a comparison
// in one session.

#include "Desktop.h"
#include "DovecotServer.h"
#include "E2e.h"
#include "ProcStat.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

constexpr int kStarts = 10;

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    return a;
}

// Watches the display for a viewable client window of a given title, with one connection kept
// open so that a look costs a few round trips rather than a process start.
class Watcher {
  public:
    explicit Watcher(const QString& display)
        : m_c(xcb_connect(display.toLatin1().constData(), nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        m_clientList = atom("_NET_CLIENT_LIST");
        m_name = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
    }
    ~Watcher() { xcb_disconnect(m_c); }

    bool shown(const QByteArray& title) {
        auto* list = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, m_root, m_clientList, XCB_ATOM_WINDOW, 0, 1024), nullptr);
        if (!list)
            return false;
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list));
        const int n = xcb_get_property_value_length(list) / 4;
        bool found = false;
        for (int i = 0; i < n && !found; ++i) {
            auto* name = xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, ids[i], m_name, m_utf8, 0, 256), nullptr);
            if (name && QByteArray(static_cast<const char*>(xcb_get_property_value(name)),
                                   xcb_get_property_value_length(name)) == title) {
                auto* attr = xcb_get_window_attributes_reply(
                    m_c, xcb_get_window_attributes(m_c, ids[i]), nullptr);
                found = attr && attr->map_state == XCB_MAP_STATE_VIEWABLE;
                free(attr);
            }
            free(name);
        }
        free(list);
        return found;
    }

  private:
    xcb_atom_t atom(const char* name) { return internAtom(m_c, name); }
    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    xcb_atom_t m_clientList = 0, m_name = 0, m_utf8 = 0;
};

// Watches the display for the map of a client window of a given title, as the window system
// reports it: SubstructureNotify on the root tells of every top-level window as it is created,
// and selecting StructureNotify on the new window then brings its own MapNotify, wherever the
// window manager has reparented it by then. The time is taken as the event is read, with no
// polling in between and no requests that would load the server while the program starts.
class MapWatcher {
  public:
    explicit MapWatcher(const QString& display)
        : m_c(xcb_connect(display.toLatin1().constData(), nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        sync();
        m_name = atom("_NET_WM_NAME");
        m_utf8 = atom("UTF8_STRING");
    }
    ~MapWatcher() { xcb_disconnect(m_c); }

    // Milliseconds on the timer at which a window of the title was mapped; -1 when none was
    // within the time, or when it was mapped before its creation had been seen.
    qint64 waitForMap(const QByteArray& title, const QElapsedTimer& since, int timeoutMs) {
        while (since.elapsed() < timeoutMs) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(m_c)) {
                const qint64 at = since.elapsed();
                const qint64 found = onEvent(e, title, at);
                free(e);
                if (found != 0)
                    return found;
            }
            if (xcb_connection_has_error(m_c))
                return -1;
            pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
            poll(&fd, 1, int(qMax<qint64>(1, timeoutMs - since.elapsed())));
        }
        return -1;
    }

    // Drops what came before, such as the last program's windows going away.
    void drain() {
        sync();
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_c))
            free(e);
    }

  private:
    // The time when the event is the titled window's map, -1 when that map was missed, else 0.
    qint64 onEvent(xcb_generic_event_t* e, const QByteArray& title, qint64 at) {
        switch (e->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto* c = reinterpret_cast<xcb_create_notify_event_t*>(e);
            if (c->parent != m_root || c->override_redirect)
                return 0;
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(m_c, c->window, XCB_CW_EVENT_MASK, &mask);
            // A window mapped before the selection took hold would bring no event at all.
            auto* attr = xcb_get_window_attributes_reply(
                m_c, xcb_get_window_attributes(m_c, c->window), nullptr);
            const bool missed =
                attr && attr->map_state != XCB_MAP_STATE_UNMAPPED && titleOf(c->window) == title;
            free(attr);
            return missed ? -1 : 0;
        }
        case XCB_MAP_NOTIFY: {
            const auto* m = reinterpret_cast<xcb_map_notify_event_t*>(e);
            // The window's own notice, not its frame's on the root.
            if (m->event != m->window || titleOf(m->window) != title)
                return 0;
            return qMax<qint64>(at, 1);
        }
        default:
            return 0;
        }
    }

    QByteArray titleOf(xcb_window_t w) {
        auto* name = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, m_name, m_utf8, 0, 256), nullptr);
        const QByteArray t =
            name ? QByteArray(static_cast<const char*>(xcb_get_property_value(name)),
                              xcb_get_property_value_length(name))
                 : QByteArray();
        free(name);
        return t;
    }

    void sync() { free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_atom_t atom(const char* name) { return internAtom(m_c, name); }
    xcb_connection_t* m_c;
    xcb_window_t m_root = 0;
    xcb_atom_t m_name = 0, m_utf8 = 0;
};

void stop(QProcess* p) {
    if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(3000);
    }
}

// The minimal program, ready to start, with the environment the real one gets.
QProcess* prepareMinimal(Desktop& d) {
    return d.prepareCommand(QStringLiteral(MINIMAL_WINDOW), {}, QString());
}

QProcess* prepareProgram(Desktop& d, const QProcessEnvironment& soundEnv) {
    return d.prepareCommand(d.programFolder() + QStringLiteral("/mokopon"), {}, QString(),
                            soundEnv);
}

// Milliseconds from just before the fork to the MapNotify of the process's window, or -1; and
// the CPU time the process had used by then, in milliseconds: the machine's load stretches the
// one but hardly the other.
qint64 timeToMap(MapWatcher& w, const QByteArray& title, QProcess* p, double* cpuMs = nullptr) {
    w.drain();
    QElapsedTimer t;
    t.start();
    p->start();
    const qint64 at = w.waitForMap(title, t, 10000);
    if (cpuMs)
        *cpuMs = double(cpuNanoseconds(p->processId())) / 1e6;
    return at;
}

// Milliseconds from just before the fork to the window manager listing the process's window as
// viewable, looked for every half millisecond, or -1.
qint64 timeToShown(Watcher& w, const QByteArray& title, QProcess* p) {
    QElapsedTimer t;
    t.start();
    p->start();
    while (t.elapsed() < 10000) {
        if (w.shown(title))
            return t.elapsed();
        QThread::usleep(500);
    }
    return -1;
}

double median(QList<qint64> v) {
    std::sort(v.begin(), v.end());
    if (v.isEmpty())
        return -1;
    const qsizetype n = v.size();
    return n % 2 ? double(v[n / 2]) : (double(v[n / 2 - 1]) + double(v[n / 2])) / 2.0;
}

// Per cent of one core used by the process over the stretch.
double cpuPercent(qint64 pid, int seconds) {
    const qint64 before = cpuTicks(pid);
    QElapsedTimer t;
    t.start();
    QThread::sleep(seconds);
    const qint64 after = cpuTicks(pid);
    const double wall = double(t.elapsed()) / 1000.0;
    return 100.0 * double(after - before) / double(sysconf(_SC_CLK_TCK)) / wall;
}

void settle() {
    QThread::msleep(3000);
}

// The machine's load over the last 1, 5 and 15 minutes: others build beside the benchmark.
QString loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2)
                                       : QString();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(0, atoi(argv[1])) : 60;

    Desktop d;
    QString why;
    if (!d.start(&why) || !d.startSoundServer(&why)) {
        std::fprintf(stderr, "bench_desktop: %s\n", qPrintable(why));
        return 1;
    }
    if (argc > 2) {
        // The other build's program in place of this one's.
        QDir(d.programFolder()).removeRecursively();
        if (QProcess::execute(
                QStringLiteral("cp"),
                {QStringLiteral("-a"), QString::fromLocal8Bit(argv[2]), d.programFolder()}) != 0) {
            std::fprintf(stderr, "bench_desktop: cannot copy %s\n", argv[2]);
            return 1;
        }
    }
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "bench_desktop: dovecot: %s\n", qPrintable(dovecot.errorString()));
        return 1;
    }
    qputenv("SSL_CERT_FILE", QFile::encodeName(DovecotServer::caFile()));
    // Settings present, so the start opens no dialog.
    QFile server(d.work() + QStringLiteral("/vbmail.ini"));
    server.open(QIODevice::WriteOnly);
    server.write(QStringLiteral("SMTP=\r\nPOP3=127.0.0.1:%1\r\nMAIL=\r\nAPOP=0\r\n")
                     .arg(dovecot.pop3Port())
                     .toLatin1());
    server.close();
    QFile account(d.programFolder() + QStringLiteral("/★MailData/iniIdPass.ini"));
    account.open(QIODevice::WriteOnly);
    account.write("[EXEINI]\r\nNAME=alice\r\nNAME2=secret\r\nNAME3=1\r\n");
    account.close();
    const QProcessEnvironment soundEnv = d.soundEnvironment();

    Watcher watcher(d.display());
    MapWatcher mapWatcher(d.display());
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("150")});
    std::printf("bench_desktop on %s, CPU stretches of %d s, clock tick %ld/s, program from %s\n",
                qPrintable(d.display()), seconds, sysconf(_SC_CLK_TCK),
                argc > 2 ? argv[2] : MOKOPON_BIN_DIR);
    std::printf("load average at the start: %s\n", qPrintable(loadAverage()));

    // Start to the window's map, alternating the two programs so that neither gets a warmer
    // machine; then, for comparison, to the window manager listing the window as viewable.
    QList<qint64> programMaps, minimalMaps, programShown, minimalShown;
    QList<qint64> programCpu, minimalCpu;
    for (int run = 0; run < 2 * kStarts; ++run) {
        const bool toMap = run < kStarts;
        double cpuA = -1, cpuB = -1;
        QProcess* p = prepareProgram(d, soundEnv);
        const qint64 a =
            toMap ? timeToMap(mapWatcher, "Form1", p, &cpuA) : timeToShown(watcher, "Form1", p);
        stop(p);
        QProcess* m = prepareMinimal(d);
        const qint64 b =
            toMap ? timeToMap(mapWatcher, "Minimal", m, &cpuB) : timeToShown(watcher, "Minimal", m);
        stop(m);
        if (a >= 0)
            (toMap ? programMaps : programShown) << a;
        if (b >= 0)
            (toMap ? minimalMaps : minimalShown) << b;
        // In tenths of a millisecond, for the same lists.
        if (a >= 0 && cpuA >= 0)
            programCpu << qRound64(cpuA * 10);
        if (b >= 0 && cpuB >= 0)
            minimalCpu << qRound64(cpuB * 10);
        QThread::msleep(300);
    }
    auto list = [](const QList<qint64>& v) {
        QStringList s;
        for (qint64 x : v)
            s << QString::number(x);
        return s.join(QLatin1Char(' '));
    };
    auto best = [](const QList<qint64>& v) {
        return v.isEmpty() ? -1.0 : double(*std::min_element(v.begin(), v.end()));
    };
    auto figures = [&](const char* what, const QList<qint64>& program, const QList<qint64>& minimal,
                       const char* budget) {
        std::printf("%s (%d runs: median, best, all)\n", what, kStarts);
        std::printf("  mokopon  %6.1f ms  %6.1f ms   [%s]\n", median(program), best(program),
                    qPrintable(list(program)));
        std::printf("  minimal  %6.1f ms  %6.1f ms   [%s]\n", median(minimal), best(minimal),
                    qPrintable(list(minimal)));
        std::printf("  ratio    %6.2f     %6.2f      %s\n", median(program) / median(minimal),
                    best(program) / best(minimal), budget);
    };
    figures("just before the fork to the window's MapNotify", programMaps, minimalMaps,
            "budget: within 1.5x of the minimal program");
    figures("the same to the window manager listing it viewable, polled", programShown,
            minimalShown, "(for comparison)");
    std::printf("CPU time the process had used by its map, ms (median, best):\n"
                "  mokopon  %6.1f     %6.1f\n  minimal  %6.1f     %6.1f\n",
                median(programCpu) / 10, best(programCpu) / 10, median(minimalCpu) / 10,
                best(minimalCpu) / 10);

    std::printf("load average after the starts: %s\n\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    if (seconds == 0)
        return 0;

    // The minimal program's figures first.
    qint64 minimalRss = 0;
    QHash<QByteArray, qint64> minimalMappings;
    {
        QProcess* m = prepareMinimal(d);
        timeToMap(mapWatcher, "Minimal", m);
        settle();
        minimalRss = rssKb(m->processId());
        minimalMappings = rssByMapping(m->processId());
        const double cpu = cpuPercent(m->processId(), seconds);
        std::printf("minimal shaped window: CPU %.3f %% of one core, VmRSS %.1f MB\n", cpu,
                    double(minimalRss) / 1024.0);
        std::fflush(stdout);
        stop(m);
    }

    QProcess* p = prepareProgram(d, soundEnv);
    if (timeToMap(mapWatcher, "Form1", p) < 0) {
        std::fprintf(stderr, "bench_desktop: the program showed no window\n");
        return 1;
    }
    const qint64 pid = p->processId();
    std::printf(
        "\nmokopon                   CPU (%% of one core)   VmRSS      vs minimal  budget\n");
    // One state: its CPU over the stretch, then its resident memory, and what changed most since
    // the state before (the first one: since the minimal program), by mapping.
    QHash<QByteArray, qint64> previousMaps = minimalMappings;
    auto state = [&](const char* name, const char* budget) {
        settle();
        const double cpu = cpuPercent(pid, seconds);
        const qint64 rss = rssKb(pid);
        std::printf("  %-22s  %8.3f              %5.1f MB   %+5.1f MB    %s\n", name, cpu,
                    double(rss) / 1024.0, double(rss - minimalRss) / 1024.0, budget);
        const QHash<QByteArray, qint64> maps = rssByMapping(pid);
        QList<std::pair<qint64, QByteArray>> changes;
        for (auto it = maps.begin(); it != maps.end(); ++it)
            changes.append({it.value() - previousMaps.value(it.key()), it.key()});
        for (auto it = previousMaps.begin(); it != previousMaps.end(); ++it)
            if (!maps.contains(it.key()))
                changes.append({-it.value(), it.key()});
        std::sort(changes.begin(), changes.end(), [](const auto& a, const auto& b) {
            return std::abs(a.first) > std::abs(b.first);
        });
        for (const auto& [kb, mapping] : changes.mid(0, 8))
            if (std::abs(kb) >= 64)
                std::printf("      %+6lld kB  %s\n", static_cast<long long>(kb),
                            mapping.constData());
        previousMaps = maps;
        std::fflush(stdout);
    };
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "bench_desktop: %s\n", what);
        stop(p);
        return 1;
    };
    state("dozing", "CPU < 0.1 %, memory < +10 MB");

    // A double click on the figure opens the panel.
    const QString character = d.waitForWindow(QStringLiteral("Form1"));
    QString panel = e2e::openPanel(d, character);
    if (panel.isEmpty())
        return fail("no panel");
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("900"), QStringLiteral("700")});
    state("panel open", "CPU < 1 %");

    // 吠える, the panel's first button.
    d.click(d.info(panel).geometry.topLeft() + e2e::panelButton(e2e::PanelButton::Bark));
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("900"), QStringLiteral("700")});
    const QString companion = d.waitForWindow(QStringLiteral("Form3"));
    if (companion.isEmpty())
        return fail("no companion");
    const QPoint spot = d.info(companion).geometry.topLeft();
    state("companion barking", "CPU < 2 %, memory < +12 MB");
    if (d.info(companion).geometry.topLeft() != spot)
        std::printf("  (the companion left the spot!)\n");

    // Closing the panel ends the bark: the character dozes again.
    d.activate(panel);
    d.key(QStringLiteral("alt+F4"));
    if (!d.waitGone(QStringLiteral("Form3")))
        return fail("the companion stayed");
    state("after the bark stopped", "CPU < 0.1 %, memory < +12 MB");

    // 受信 on an empty mailbox, the notice closed, the panel closed.
    panel = e2e::openPanel(d, d.waitForWindow(QStringLiteral("Form1")));
    if (panel.isEmpty())
        return fail("no panel for the check");
    d.click(d.info(panel).geometry.topLeft() + e2e::panelButton(e2e::PanelButton::Check));
    const QString notice = d.waitForWindow(e2e::kNoticeTitle, 20000);
    if (notice.isEmpty())
        return fail("no notice after the check");
    d.activate(notice);
    d.key(QStringLiteral("alt+F4"));
    d.waitGone(e2e::kNoticeTitle);
    d.activate(panel);
    d.key(QStringLiteral("alt+F4"));
    d.waitGone(e2e::kPanelTitle);
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("900"), QStringLiteral("700")});
    state("after a mail check", "CPU < 0.1 %");

    std::printf("\nload average at the end: %s\n", qPrintable(loadAverage()));
    std::printf("resident memory budget: within 10 MB of a minimal Qt Widgets program, 12 MB while "
                "and after the companion barks (the sound server's client library)\n");
    stop(p);
    return 0;
}
