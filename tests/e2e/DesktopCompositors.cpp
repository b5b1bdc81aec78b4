// The desktops of Desktop that run in a real compositor: mutter on Xvfb, gnome-shell's headless
// Wayland session and KWin's virtual one, each reached through its own interfaces.

#include "Desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

#include "fake-input-client-protocol.h"

namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kRemoteSession = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
// Linux input button codes: left, middle, right.
constexpr int kButtonCodes[] = {0x110, 0x112, 0x111};

std::unique_ptr<QProcess> startBus(const QStringList& args, QString* address, QString* why) {
    auto bus = std::make_unique<QProcess>();
    bus->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    bus->setProcessChannelMode(QProcess::SeparateChannels);
    bus->setStandardErrorFile(QProcess::nullDevice());
    bus->start(QStringLiteral("dbus-daemon"),
               args + QStringList{QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus->waitForStarted(5000) || !bus->waitForReadyRead(10000)) {
        *why = QStringLiteral("dbus-daemon does not start (is the package dbus installed?)");
        return nullptr;
    }
    *address = QString::fromUtf8(bus->readLine()).trimmed();
    return bus;
}

// The X display the compositor with the given process id holds for XWayland (it writes its id
// into the display's lock file, and starts XWayland when the first X client comes), and the
// cookie file it made for it in the runtime folder (gnome-shell's; KWin's XWayland takes none).
bool xwaylandDisplay(qint64 compositor, const QString& runtimeDir, QString* display, QString* auth,
                     bool needsCookie = true) {
    for (const QString& lock :
         QDir(QStringLiteral("/tmp"))
             .entryList({QStringLiteral(".X*-lock")}, QDir::Hidden | QDir::Files)) {
        QFile f(QStringLiteral("/tmp/") + lock);
        if (!f.open(QIODevice::ReadOnly) || f.readAll().trimmed().toLongLong() != compositor)
            continue;
        const QStringList cookies =
            QDir(runtimeDir)
                .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Hidden | QDir::Files);
        if (cookies.isEmpty() && needsCookie)
            return false;
        *display = QLatin1Char(':') + lock.mid(2, lock.size() - 7);
        if (!cookies.isEmpty())
            *auth = runtimeDir + u'/' + cookies.first();
        return true;
    }
    return false;
}

} // namespace

bool compositorRuns(const QString& display) {
    xcb_connection_t* c = xcb_connect(display.toLatin1().constData(), nullptr);
    bool owned = false;
    if (c && !xcb_connection_has_error(c)) {
        const char name[] = "_NET_WM_CM_S0";
        auto* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
        if (atom) {
            auto* owner =
                xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_NONE;
            free(owner);
            free(atom);
        }
    }
    if (c)
        xcb_disconnect(c);
    return owned;
}

bool Desktop::startSessionBus(QString* why) {
    m_sessionBus =
        startBus({QStringLiteral("--session"), QStringLiteral("--address=unix:path=") +
                                                   m_dir.path() + QStringLiteral("/session-bus")},
                 &m_sessionBusAddress, why);
    return m_sessionBus != nullptr;
}

QProcessEnvironment Desktop::busEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBusAddress);
    if (!m_systemBusAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBusAddress);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    // The compositor's settings and caches stay in the desktop's own folder.
    const QString home = m_dir.path() + QStringLiteral("/home");
    QDir().mkpath(home);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    return env;
}

QDBusConnection Desktop::sessionBus() const {
    return QDBusConnection::connectToBus(m_sessionBusAddress,
                                         QStringLiteral("e2e-gnome-%1").arg(quintptr(this)));
}

bool Desktop::startMutterX11(QString* why, QSize screen) {
    m_useMutter = true;
    return start(why, screen);
}

std::unique_ptr<QProcess> Desktop::startCompositor(const QString& program, const QStringList& args,
                                                   const QProcessEnvironment& env,
                                                   const QStringList& services, bool xauthCookie,
                                                   QString* why) {
    auto compositor = std::make_unique<QProcess>();
    compositor->setProcessEnvironment(env);
    compositor->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    compositor->setStandardInputFile(QProcess::nullDevice());
    compositor->setStandardOutputFile(QProcess::nullDevice());
    const QString name = QFileInfo(program).fileName();
    const QString log = m_dir.path() + u'/' + name + QStringLiteral(".log");
    compositor->setStandardErrorFile(log);
    compositor->start(program, args);
    if (!compositor->waitForStarted(5000)) {
        *why = name + QStringLiteral(" does not start (is its package installed?)");
        return nullptr;
    }
    QDBusConnection bus = sessionBus();
    auto up = [&] {
        int code = -1;
        if (compositor->state() != QProcess::Running || !bus.isConnected())
            return false;
        for (const QString& service : services)
            if (!bus.interface()->isServiceRegistered(service))
                return false;
        return xwaylandDisplay(compositor->processId(), runtimeDir(), &m_display, &m_xauthority,
                               xauthCookie) &&
               (tool(QStringLiteral("xdpyinfo"), {}, &code, 3000), code == 0);
    };
    if (!waitUntil(up, 60000)) {
        QFile f(log);
        f.open(QIODevice::ReadOnly);
        const QByteArray text = f.readAll();
        const qsizetype error = text.indexOf("JS ERROR");
        *why = name + QStringLiteral(" with XWayland did not come up: ") +
               QString::fromUtf8(error >= 0 ? text.mid(error, 400) : text.right(800));
        return nullptr;
    }
    return compositor;
}

bool Desktop::startGnomeWayland(QString* why, QSize screen) {
    m_screen = screen;
    if (!prepareFolders(why) || !startSessionBus(why))
        return false;
    // gnome-shell asks the system bus for the login manager and the like; a private one, with
    // nothing on it, stands in.
    const QString config = m_dir.path() + QStringLiteral("/system-bus.conf");
    QFile conf(config);
    if (!conf.open(QIODevice::WriteOnly) ||
        conf.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>system</type><listen>unix:path=" +
                   QFile::encodeName(m_dir.path()) +
                   "/system-bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n") < 0) {
        *why = QStringLiteral("cannot write the system bus configuration");
        return false;
    }
    conf.close();
    m_systemBus = startBus({QStringLiteral("--config-file=") + config}, &m_systemBusAddress, why);
    if (!m_systemBus)
        return false;

    QProcessEnvironment env = busEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // No animations to wait out. (Its wallpaper is a picture the shell cannot read here: the
    // background stays a plain colour.)
    // The pointer is pushed into the top left corner: no overview there.
    for (const char* key : {"enable-animations", "enable-hot-corners"}) {
        QProcess gsettings;
        gsettings.setProcessEnvironment(env);
        gsettings.start(QStringLiteral("gsettings"),
                        {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.interface"),
                         QLatin1String(key), QStringLiteral("false")});
        gsettings.waitForFinished(10000);
    }

    m_shell = startCompositor(QStringLiteral("gnome-shell"),
                              {QStringLiteral("--headless"), QStringLiteral("--wayland"),
                               QStringLiteral("--virtual-monitor"),
                               QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height())},
                              env, {QStringLiteral("org.gnome.Shell"), kRemoteDesktop}, true, why);
    if (!m_shell)
        return false;
    QDBusConnection bus = sessionBus();
    m_waylandSocket = QStringLiteral("wayland-0");
    // The screenshot interface answers the screenshot tool's name only.
    bus.registerService(QStringLiteral("org.gnome.Screenshot"));
    if (!startRemoteInput(why))
        return false;
    // A session starts in the overview, which Escape leaves; the desktop is what the tests
    // look at.
    QDBusInterface shell(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                         QStringLiteral("org.gnome.Shell"), bus);
    waitUntil([&] { return shell.property("OverviewActive").toBool(); }, 10000);
    QDBusInterface input(kRemoteDesktop, m_remoteSession, kRemoteSession, bus);
    if (!waitUntil(
            [&] {
                for (const bool down : {true, false})
                    input.call(QStringLiteral("NotifyKeyboardKeysym"), 0xff1bu, down);
                runEvents(1000);
                return !shell.property("OverviewActive").toBool();
            },
            15000)) {
        *why = QStringLiteral("gnome-shell stays in its overview");
        return false;
    }
    return true;
}

bool Desktop::startRemoteInput(QString* why) {
    QDBusConnection bus = sessionBus();
    QDBusInterface remote(kRemoteDesktop, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                          kRemoteDesktop, bus);
    const QDBusReply<QDBusObjectPath> session = remote.call(QStringLiteral("CreateSession"));
    if (!session.isValid()) {
        *why = QStringLiteral("no remote desktop session: ") + session.error().message();
        return false;
    }
    m_remoteSession = session.value().path();
    QDBusInterface input(kRemoteDesktop, m_remoteSession, kRemoteSession, bus);
    const QDBusMessage started = input.call(QStringLiteral("Start"));
    if (started.type() == QDBusMessage::ErrorMessage) {
        *why =
            QStringLiteral("the remote desktop session does not start: ") + started.errorMessage();
        return false;
    }
    // Pushed into the top left corner, the pointer is where it is kept from then on.
    m_pointer = QPoint(m_screen.width(), m_screen.height());
    gnomeMoveTo(QPoint(-m_screen.width(), -m_screen.height()));
    m_pointer = QPoint(0, 0);
    return true;
}

void Desktop::gnomeMoveTo(const QPoint& p) const {
    QDBusConnection bus = sessionBus();
    QDBusInterface input(kRemoteDesktop, m_remoteSession, kRemoteSession, bus);
    // One axis at a time: a motion along both from the corner loses its horizontal part.
    const QPoint by = p - m_pointer;
    if (by.x())
        input.call(QStringLiteral("NotifyPointerMotionRelative"), double(by.x()), 0.0);
    if (by.y())
        input.call(QStringLiteral("NotifyPointerMotionRelative"), 0.0, double(by.y()));
    m_pointer = p;
}

void Desktop::gnomeButton(int button, bool down) const {
    QDBusConnection bus = sessionBus();
    QDBusInterface input(kRemoteDesktop, m_remoteSession, kRemoteSession, bus);
    input.call(QStringLiteral("NotifyPointerButton"), kButtonCodes[qBound(1, button, 3) - 1], down);
}

QImage Desktop::gnomeScreenshot() const {
    QDBusConnection bus = sessionBus();
    QDBusInterface shot(QStringLiteral("org.gnome.Shell.Screenshot"),
                        QStringLiteral("/org/gnome/Shell/Screenshot"),
                        QStringLiteral("org.gnome.Shell.Screenshot"), bus);
    const QString path = m_dir.path() + QStringLiteral("/shot.png");
    QImage image;
    // The shell learns who owns the screenshot tool's name a moment after it is taken.
    waitUntil(
        [&] {
            QFile::remove(path);
            const QDBusMessage reply = shot.call(QStringLiteral("Screenshot"), false, false, path);
            if (reply.type() == QDBusMessage::ErrorMessage)
                return false;
            image = QImage(path);
            return !image.isNull();
        },
        10000);
    return image.convertToFormat(QImage::Format_RGB32);
}

QProcess* Desktop::launchClient(const QString& program, const QStringList& args) {
    QProcessEnvironment extra;
    if (isWayland()) {
        extra.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        extra.insert(QStringLiteral("DISPLAY"), QString());
    }
    return launchCommand(program, args, work(), extra, QProcess::SeparateChannels);
}

struct Desktop::FakeInput {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    org_kde_kwin_fake_input* input = nullptr;
    ~FakeInput() {
        if (input)
            org_kde_kwin_fake_input_destroy(input);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }
};

namespace {

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* input = static_cast<org_kde_kwin_fake_input**>(data);
    if (qstrcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3)
        *input = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3));
}

void onGlobalRemoved(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemoved};

} // namespace

bool Desktop::startKWinWayland(QString* why, QSize screen) {
    m_screen = screen;
    if (!prepareFolders(why) || !startSessionBus(why))
        return false;
    // The packaged binary carries a file capability that a container may refuse to execute; a
    // copy has none. Its Qt platform plugin goes by the executable's name, so the copy keeps it.
    const QString binFolder = m_dir.path() + QStringLiteral("/kwin-bin");
    const QString binary = binFolder + QStringLiteral("/kwin_wayland");
    QDir().mkpath(binFolder);
    if (!QFile::copy(QStringLiteral("/usr/bin/kwin_wayland"), binary)) {
        *why = QStringLiteral("no /usr/bin/kwin_wayland (is the package kwin-wayland installed?)");
        return false;
    }
    QProcessEnvironment env = busEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Screenshots and fake input for any client: the test is no installed program KWin trusts.
    env.insert(QStringLiteral("KWIN_SCREENSHOT_NO_PERMISSION_CHECKS"), QStringLiteral("1"));
    env.insert(QStringLiteral("KWIN_WAYLAND_NO_PERMISSION_CHECKS"), QStringLiteral("1"));
    m_waylandSocket = QStringLiteral("wayland-0");
    m_kwin = startCompositor(binary,
                             {QStringLiteral("--virtual"), QStringLiteral("--xwayland"),
                              QStringLiteral("--socket"), m_waylandSocket,
                              QStringLiteral("--width"), QString::number(screen.width()),
                              QStringLiteral("--height"), QString::number(screen.height())},
                             env, {QStringLiteral("org.kde.KWin.ScreenShot2")}, false, why);
    if (!m_kwin)
        return false;

    m_fakeInput = std::make_shared<FakeInput>();
    m_fakeInput->display =
        wl_display_connect(QFile::encodeName(runtimeDir() + u'/' + m_waylandSocket).constData());
    if (!m_fakeInput->display) {
        *why = QStringLiteral("cannot connect to KWin's Wayland socket");
        return false;
    }
    m_fakeInput->registry = wl_display_get_registry(m_fakeInput->display);
    wl_registry_add_listener(m_fakeInput->registry, &kRegistryListener, &m_fakeInput->input);
    wl_display_roundtrip(m_fakeInput->display);
    if (!m_fakeInput->input) {
        *why = QStringLiteral("KWin offers this client no fake input");
        return false;
    }
    org_kde_kwin_fake_input_authenticate(m_fakeInput->input, "e2e", "end-to-end tests");
    wl_display_roundtrip(m_fakeInput->display);
    m_pointer = QPoint(0, 0);
    compositorMoveTo(QPoint(0, 0));
    return true;
}

void Desktop::compositorMoveTo(const QPoint& p) const {
    if (!m_fakeInput) {
        gnomeMoveTo(p);
        return;
    }
    org_kde_kwin_fake_input_pointer_motion_absolute(m_fakeInput->input, wl_fixed_from_int(p.x()),
                                                    wl_fixed_from_int(p.y()));
    wl_display_roundtrip(m_fakeInput->display);
    m_pointer = p;
}

void Desktop::compositorButton(int button, bool down) const {
    if (!m_fakeInput) {
        gnomeButton(button, down);
        return;
    }
    org_kde_kwin_fake_input_button(m_fakeInput->input, kButtonCodes[qBound(1, button, 3) - 1],
                                   down ? WL_POINTER_BUTTON_STATE_PRESSED
                                        : WL_POINTER_BUTTON_STATE_RELEASED);
    wl_display_roundtrip(m_fakeInput->display);
}

QImage Desktop::kwinScreenshot() const {
    QDBusConnection bus = sessionBus();
    QDBusInterface shot(QStringLiteral("org.kde.KWin.ScreenShot2"),
                        QStringLiteral("/org/kde/KWin/ScreenShot2"),
                        QStringLiteral("org.kde.KWin.ScreenShot2"), bus);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return QImage();
    // KWin writes the raw pixels into the pipe and answers with their layout; the pipe is read
    // while waiting, or a full pipe would hold KWin up.
    QDBusPendingCall call = shot.asyncCall(QStringLiteral("CaptureWorkspace"),
                                           QVariantMap{{QStringLiteral("include-cursor"), false}},
                                           QVariant::fromValue(QDBusUnixFileDescriptor(fds[1])));
    close(fds[1]);
    QByteArray data;
    QVariantMap layout;
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (call.isFinished()) {
            const QDBusPendingReply<QVariantMap> reply = call;
            if (reply.isError())
                break;
            layout = reply.value();
            if (data.size() >= layout.value(QStringLiteral("stride")).toLongLong() *
                                   layout.value(QStringLiteral("height")).toLongLong())
                break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char buffer[65536];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0 && call.isFinished())
                break;
            if (n > 0)
                data.append(buffer, n);
        }
        runEvents(0);
    }
    close(fds[0]);
    const int width = layout.value(QStringLiteral("width")).toInt();
    const int height = layout.value(QStringLiteral("height")).toInt();
    const qsizetype stride = layout.value(QStringLiteral("stride")).toLongLong();
    if (width <= 0 || height <= 0 || data.size() < stride * height)
        return QImage();
    const QImage image(reinterpret_cast<const uchar*>(data.constData()), width, height, stride,
                       QImage::Format(layout.value(QStringLiteral("format")).toInt()));
    return image.convertToFormat(QImage::Format_RGB32);
}
