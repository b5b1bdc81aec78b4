#include "Desktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

bool copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    const QDir src(from);
    for (const QFileInfo& fi : src.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + fi.fileName();
        if (fi.isDir()) {
            if (!copyTree(fi.filePath(), target))
                return false;
        } else if (!QFile::copy(fi.filePath(), target)) {
            return false;
        }
    }
    return true;
}

} // namespace

void runEvents(int ms) {
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    } while (!deadline.hasExpired());
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (done())
            return true;
        runEvents(40);
    }
    return done();
}

Desktop::Desktop() = default;

Desktop::~Desktop() {
    for (QProcess* p : m_programs) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
        delete p;
    }
    if (m_sound) {
        m_sound->terminate();
        if (!m_sound->waitForFinished(3000))
            m_sound->kill();
        m_sound->waitForFinished(3000);
    }
    if (m_wm) {
        m_wm->kill();
        m_wm->waitForFinished(3000);
    }
    if (!m_sessionBusAddress.isEmpty())
        QDBusConnection::disconnectFromBus(sessionBus().name());
    // gnome-shell and KWin end their XWayland with them.
    m_fakeInput.reset();
    for (QProcess* p : {m_shell.get(), m_kwin.get(), m_systemBus.get(), m_sessionBus.get()}) {
        if (!p)
            continue;
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
    if (m_xvfb) {
        m_xvfb->terminate();
        if (!m_xvfb->waitForFinished(3000)) {
            m_xvfb->kill();
            m_xvfb->waitForFinished(3000);
        }
    }
}

QString Desktop::programFolder() const {
    return m_dir.path() + QStringLiteral("/program");
}
QString Desktop::work() const {
    return m_dir.path() + QStringLiteral("/work");
}
QString Desktop::runtimeDir() const {
    return m_dir.path() + QStringLiteral("/runtime");
}

bool Desktop::prepareFolders(QString* why) {
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    QDir().mkpath(work());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!copyTree(QStringLiteral(MOKOPON_BIN_DIR), programFolder())) {
        *why = QStringLiteral("cannot copy the program folder from " MOKOPON_BIN_DIR);
        return false;
    }
    return true;
}

bool Desktop::start(QString* why, QSize screen, const QList<QRect>& monitors) {
    m_screen = screen;
    if (!prepareFolders(why))
        return false;

    // Find a free display: Xvfb refuses one that is taken.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int n = 100 + int((getpid() * 7 + attempt * 13) % 800);
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
            QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        m_display = QStringLiteral(":%1").arg(n);
        m_xvfb = std::make_unique<QProcess>();
        m_xvfb->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{m_display,
                         QStringLiteral("-screen"),
                         QStringLiteral("0"),
                         QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                         QStringLiteral("-nolisten"),
                         QStringLiteral("tcp"),
                         QStringLiteral("-dpi"),
                         QStringLiteral("96")};
        // The server forgets its monitors when it resets, which it does whenever its last
        // client leaves: between setting them and the window manager's start there is none.
        if (!monitors.isEmpty())
            args << QStringLiteral("-noreset");
        m_xvfb->start(QStringLiteral("Xvfb"), args);
        if (!m_xvfb->waitForStarted(5000)) {
            *why = QStringLiteral("Xvfb does not start (is the package xvfb installed?)");
            return false;
        }
        QDeadlineTimer deadline(10000);
        bool up = false;
        while (!deadline.hasExpired() && m_xvfb->state() == QProcess::Running) {
            int code = -1;
            tool(QStringLiteral("xdpyinfo"), {}, &code, 3000);
            if (code == 0) {
                up = true;
                break;
            }
            QThread::msleep(100);
        }
        if (up)
            break;
        m_xvfb.reset();
    }
    if (!m_xvfb) {
        *why = QStringLiteral("no free X display");
        return false;
    }
    if (!monitors.isEmpty() && !splitIntoMonitors(monitors, why))
        return false;

    // openbox now and then starts without taking the screen; give it a few chances.
    const QString wm = m_useMutter ? QStringLiteral("mutter") : QStringLiteral("openbox");
    if (m_useMutter && !startSessionBus(why))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_wm = std::make_unique<QProcess>();
        QProcessEnvironment env =
            m_useMutter ? busEnvironment() : QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        m_wm->setProcessEnvironment(env);
        m_wm->setStandardInputFile(QProcess::nullDevice());
        m_wm->setStandardOutputFile(QProcess::nullDevice());
        m_wm->setStandardErrorFile(m_dir.path() + u'/' + wm + QStringLiteral(".log"));
        m_wm->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        if (m_useMutter)
            m_wm->start(wm, {QStringLiteral("--x11"), QStringLiteral("--replace"),
                             QStringLiteral("--sm-disable")});
        else
            m_wm->start(wm, {QStringLiteral("--sm-disable")});
        if (!m_wm->waitForStarted(5000)) {
            *why = wm + QStringLiteral(" does not start (is its package installed?)");
            return false;
        }
        QDeadlineTimer deadline(m_useMutter ? 20000 : 5000);
        while (!deadline.hasExpired()) {
            // mutter composites from the moment it owns the compositing manager selection.
            if (tool(QStringLiteral("xprop"),
                     {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(QLatin1String("window id")) &&
                (!m_useMutter || compositorRuns(m_display)))
                return true;
            QThread::msleep(100);
        }
        m_wm->kill();
        m_wm->waitForFinished(3000);
    }
    *why = wm + QStringLiteral(" did not take the screen");
    return false;
}

bool Desktop::splitIntoMonitors(const QList<QRect>& monitors, QString* why) {
    // The first monitor takes the screen's one output, so the server's own whole-screen monitor
    // goes; the others have none, as a screen split by xrandr has them.
    const QRegularExpressionMatch output =
        QRegularExpression(QStringLiteral("^(\\S+) connected"), QRegularExpression::MultilineOption)
            .match(tool(QStringLiteral("xrandr"), {}));
    if (!output.hasMatch()) {
        *why = QStringLiteral("xrandr names no output");
        return false;
    }
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect& m = monitors[i];
        const QString name = QStringLiteral("mon%1").arg(i);
        // width/mm x height/mm + x + y, at 96 dpi.
        const QString geometry = QStringLiteral("%1/%2x%3/%4+%5+%6")
                                     .arg(m.width())
                                     .arg(qRound(m.width() * 25.4 / 96))
                                     .arg(m.height())
                                     .arg(qRound(m.height() * 25.4 / 96))
                                     .arg(m.x())
                                     .arg(m.y());
        int code = -1;
        tool(QStringLiteral("xrandr"),
             {QStringLiteral("--setmonitor"), i == 0 ? QLatin1Char('*') + name : name, geometry,
              i == 0 ? output.captured(1) : QStringLiteral("none")},
             &code);
        if (code != 0) {
            *why = QStringLiteral("xrandr --setmonitor %1 %2 failed").arg(name, geometry);
            return false;
        }
        m_monitorNames << name;
    }
    if (this->monitors() != monitors) {
        *why = QStringLiteral("the server did not take the monitors");
        return false;
    }
    return true;
}

QList<QRect> Desktop::monitors() const {
    // " 0: *mon0 1280/339x1024/271+0+0  screen"
    const QRegularExpression line(
        QStringLiteral("^\\s*\\d+: \\S+ (\\d+)/\\d+x(\\d+)/\\d+\\+(-?\\d+)\\+(-?\\d+)"),
        QRegularExpression::MultilineOption);
    QList<QRect> list;
    for (const auto& m :
         line.globalMatch(tool(QStringLiteral("xrandr"), {QStringLiteral("--listmonitors")})))
        list << QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                      m.captured(2).toInt());
    return list;
}

bool Desktop::unplugMonitor(int index, QString* why) {
    if (index <= 0 || index >= m_monitorNames.size()) {
        *why = QStringLiteral("no monitor %1 to unplug").arg(index);
        return false;
    }
    const int before = int(monitors().size());
    tool(QStringLiteral("xrandr"), {QStringLiteral("--delmonitor"), m_monitorNames[index]});
    if (!waitUntil([&] { return monitors().size() == before - 1; }, 5000)) {
        *why = QStringLiteral("monitor %1 is still there").arg(m_monitorNames[index]);
        return false;
    }
    m_monitorNames.removeAt(index);
    return true;
}

bool Desktop::writeCompleteSettings() const {
    QFile server(work() + QStringLiteral("/vbmail.ini"));
    QFile account(programFolder() + QStringLiteral("/★MailData/iniIdPass.ini"));
    return server.open(QIODevice::WriteOnly) &&
           server.write("SMTP=\r\nPOP3=127.0.0.1\r\nMAIL=\r\nAPOP=0\r\n") > 0 &&
           account.open(QIODevice::WriteOnly) &&
           account.write("[EXEINI]\r\nNAME=user\r\nNAME2=secret\r\nNAME3=1\r\n") > 0;
}

QProcess* Desktop::launch(const QString& workingDir, const QProcessEnvironment& extra) {
    return launchCommand(programFolder() + QStringLiteral("/mokopon"), {}, workingDir, extra);
}

QProcess* Desktop::launchCommand(const QString& program, const QStringList& args,
                                 const QString& workingDir, const QProcessEnvironment& extra,
                                 QProcess::ProcessChannelMode channels) {
    QProcess* p = prepareCommand(program, args, workingDir, extra, channels);
    p->start();
    return p;
}

QProcess* Desktop::prepareCommand(const QString& program, const QStringList& args,
                                  const QString& workingDir, const QProcessEnvironment& extra,
                                  QProcess::ProcessChannelMode channels) {
    auto* p = new QProcess();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    if (!m_xauthority.isEmpty())
        env.insert(QStringLiteral("XAUTHORITY"), m_xauthority);
    if (!m_sessionBusAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBusAddress);
    if (isWayland()) {
        // As in a Wayland session: the program chooses its way to the screen itself.
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandSocket);
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(workingDir.isEmpty() ? work() : workingDir);
    p->setProcessChannelMode(channels);
    p->setProgram(program);
    p->setArguments(args);
    m_programs << p;
    return p;
}

QString Desktop::tool(const QString& program, const QStringList& args, int* exitCode,
                      int timeoutMs) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    if (!m_xauthority.isEmpty())
        env.insert(QStringLiteral("XAUTHORITY"), m_xauthority);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        if (exitCode)
            *exitCode = -1;
        return QString();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

void Desktop::xdotool(const QStringList& args) const {
    tool(QStringLiteral("xdotool"), args);
}

void Desktop::moveTo(const QPoint& p) const {
    if (isGnome() || isKWin()) {
        compositorMoveTo(p);
        return;
    }
    // Each xdotool is its own client, and the server may serve the next one's button before this
    // one's move: --sync returns only once the pointer is there.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(p.x()),
             QString::number(p.y())});
}

void Desktop::press(int button) const {
    if (isGnome() || isKWin())
        compositorButton(button, true);
    else
        xdotool({QStringLiteral("mousedown"), QString::number(button)});
}

void Desktop::release(int button) const {
    if (isGnome() || isKWin())
        compositorButton(button, false);
    else
        xdotool({QStringLiteral("mouseup"), QString::number(button)});
}

void Desktop::drag(const QPoint& from, const QPoint& to) const {
    moveTo(from);
    press(1);
    for (int i = 1; i <= 12; ++i) {
        moveTo(from + (to - from) * i / 12);
        QThread::msleep(20);
    }
    release(1);
}

void Desktop::click(const QPoint& p, int button) const {
    if (isGnome() || isKWin()) {
        compositorMoveTo(p);
        compositorButton(button, true);
        compositorButton(button, false);
        return;
    }
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()),
             QStringLiteral("click"), QString::number(button)});
}

void Desktop::doubleClick(const QPoint& p) const {
    if (isGnome() || isKWin()) {
        compositorMoveTo(p);
        for (int i = 0; i < 2; ++i) {
            compositorButton(1, true);
            compositorButton(1, false);
            QThread::msleep(80);
        }
        return;
    }
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
             QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
}

void Desktop::key(const QString& keys) const {
    xdotool({QStringLiteral("key"), keys});
}

void Desktop::activate(const QString& id) const {
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
}

namespace {

// The keysym name xdotool and xmodmap both take for a character: U+hex.
QString keysymName(QChar c) {
    return QStringLiteral("U%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

bool Desktop::mapKeysFor(const QString& text, QString* why) const {
    const QString table = tool(QStringLiteral("xmodmap"), {QStringLiteral("-pke")});
    const QRegularExpression line(QStringLiteral("^keycode\\s+(\\d+)\\s*=(.*)$"),
                                  QRegularExpression::MultilineOption);
    QStringList spare;
    for (auto it = line.globalMatch(table); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(2).trimmed().isEmpty())
            spare << m.captured(1);
    }
    QStringList wanted;
    for (const QChar c : text)
        if (c.unicode() > 0x7f && !wanted.contains(keysymName(c)))
            wanted << keysymName(c);
    if (wanted.size() > spare.size()) {
        *why = QStringLiteral("only %1 spare keycodes for %2 characters")
                   .arg(spare.size())
                   .arg(wanted.size());
        return false;
    }
    QStringList expressions;
    for (int i = 0; i < wanted.size(); ++i)
        expressions << QStringLiteral("-e")
                    << QStringLiteral("keycode %1 = %2 %2").arg(spare[i], wanted[i]);
    if (expressions.isEmpty())
        return true;
    int code = -1;
    tool(QStringLiteral("xmodmap"), expressions, &code);
    // Read the map back from the server: every key must have taken.
    const QString after = tool(QStringLiteral("xmodmap"), {QStringLiteral("-pke")});
    for (int i = 0; i < wanted.size(); ++i) {
        const QRegularExpression named(QStringLiteral("^keycode\\s+%1\\s*=\\s*\\S").arg(spare[i]),
                                       QRegularExpression::MultilineOption);
        if (code != 0 || !named.match(after).hasMatch()) {
            *why = QStringLiteral("xmodmap did not map %1 to keycode %2").arg(wanted[i], spare[i]);
            return false;
        }
    }
    return true;
}

void Desktop::typeKeys(const QString& text) const {
    QStringList args{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")};
    for (const QChar c : text)
        args << keysymName(c);
    xdotool(args);
}

QStringList Desktop::findWindows(const QString& title, bool onlyVisible) const {
    QStringList args;
    if (onlyVisible)
        args << QStringLiteral("--onlyvisible");
    args << QStringLiteral("--name")
         << QStringLiteral("^%1$").arg(QRegularExpression::escape(title));
    const QString out =
        tool(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + args);
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString Desktop::waitForWindow(const QString& title, int timeoutMs) const {
    QString id;
    waitUntil(
        [&] {
            id = findWindows(title).value(0);
            return !id.isEmpty();
        },
        timeoutMs);
    return id;
}

bool Desktop::waitGone(const QString& title, int timeoutMs) const {
    return waitUntil([&] { return findWindows(title).isEmpty(); }, timeoutMs);
}

QRect Desktop::frame(const QString& id) const {
    const QRect client = info(id).geometry;
    const QString out = tool(QStringLiteral("xprop"),
                             {QStringLiteral("-id"), id, QStringLiteral("_NET_FRAME_EXTENTS")});
    // left, right, top, bottom
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("=\\s*(\\d+),\\s*(\\d+),\\s*(\\d+),\\s*(\\d+)"))
            .match(out);
    if (!m.hasMatch())
        return client;
    return client.adjusted(-m.captured(1).toInt(), -m.captured(3).toInt(), m.captured(2).toInt(),
                           m.captured(4).toInt());
}

WindowInfo Desktop::info(const QString& id) const {
    WindowInfo w;
    w.id = id;
    const QString out = tool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id});
    auto num = [&](const char* key) {
        const QRegularExpression re(QStringLiteral("%1:\\s+(-?\\d+)").arg(QLatin1String(key)));
        return re.match(out).captured(1).toInt();
    };
    w.geometry = QRect(num("Absolute upper-left X"), num("Absolute upper-left Y"), num("Width"),
                       num("Height"));
    w.viewable = out.contains(QLatin1String("IsViewable"));
    return w;
}

QList<QRect> Desktop::shapeRects(const QString& id, bool input) const {
    QList<QRect> rects;
    if (!m_xauthority.isEmpty())
        qputenv("XAUTHORITY", QFile::encodeName(m_xauthority));
    xcb_connection_t* c = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return rects;
    }
    const xcb_window_t window = xcb_window_t(id.toULong(nullptr, 0));
    auto cookie =
        xcb_shape_get_rectangles(c, window, input ? XCB_SHAPE_SK_INPUT : XCB_SHAPE_SK_BOUNDING);
    if (auto* reply = xcb_shape_get_rectangles_reply(c, cookie, nullptr)) {
        const xcb_rectangle_t* r = xcb_shape_get_rectangles_rectangles(reply);
        const int n = xcb_shape_get_rectangles_rectangles_length(reply);
        for (int i = 0; i < n; ++i)
            rects << QRect(r[i].x, r[i].y, r[i].width, r[i].height);
        free(reply);
    }
    xcb_disconnect(c);
    return rects;
}

QStringList Desktop::netWmState(const QString& id) const {
    const QString out =
        tool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_STATE")});
    QStringList states;
    const QRegularExpression re(QStringLiteral("_NET_WM_STATE_\\w+"));
    for (auto it = re.globalMatch(out); it.hasNext();)
        states << it.next().captured(0);
    return states;
}

QImage Desktop::screenshot() const {
    if (isGnome())
        return gnomeScreenshot();
    if (isKWin())
        return kwinScreenshot();
    // Straight from the server: a screenshot tool's start takes seconds on a busy machine, longer
    // than the frames a test waits for.
    QImage image;
    xcb_connection_t* c = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (c && !xcb_connection_has_error(c)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        auto* reply = xcb_get_image_reply(c,
                                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                                        0, 0, screen->width_in_pixels,
                                                        screen->height_in_pixels, ~0u),
                                          nullptr);
        // A 24-bit screen comes as 32 bits a pixel, blue first: Qt's RGB32 on this machine.
        if (reply && reply->depth == 24 &&
            xcb_get_image_data_length(reply) ==
                4 * int(screen->width_in_pixels) * screen->height_in_pixels)
            image = QImage(xcb_get_image_data(reply), screen->width_in_pixels,
                           screen->height_in_pixels, QImage::Format_RGB32)
                        .copy();
        free(reply);
    }
    if (c)
        xcb_disconnect(c);
    return image;
}

bool Desktop::saveScreenshot(const QString& path) const {
    const QImage img = screenshot();
    return !img.isNull() && img.save(path);
}

QString Desktop::clipboardText() const {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(m_display.toLatin1().constData(), &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return {};
    }
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    };
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t utf8 = atom("UTF8_STRING");
    const xcb_atom_t target = atom("MOKOPON_TEST_CLIPBOARD");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, 0, window, it.data->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_convert_selection(c, window, clipboard, utf8, target, XCB_CURRENT_TIME);
    xcb_flush(c);

    QString text;
    QDeadlineTimer deadline(3000);
    bool answered = false;
    while (!answered && !deadline.hasExpired()) {
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (!e) {
            runEvents(10);
            continue;
        }
        if ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            answered = true;
            const auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(e);
            if (n->property != XCB_ATOM_NONE) {
                xcb_get_property_reply_t* p = xcb_get_property_reply(
                    c, xcb_get_property(c, 1, window, target, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                    nullptr);
                if (p) {
                    text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(p)),
                                             xcb_get_property_value_length(p));
                    free(p);
                }
            }
        }
        free(e);
    }
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
    return text;
}

QString Desktop::pactl(const QStringList& args) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QProcessEnvironment own = soundEnvironment();
    for (const QString& key : own.keys())
        env.insert(key, own.value(key));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QProcessEnvironment Desktop::soundEnvironment() const {
    const QString dir = m_dir.path() + QStringLiteral("/pulse");
    QProcessEnvironment env;
    env.insert(QStringLiteral("PULSE_SERVER"),
               QStringLiteral("unix:") + dir + QStringLiteral("/native"));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), dir + QStringLiteral("/state"));
    // No cookie is needed (anonymous access), and none of the user's is read.
    env.insert(QStringLiteral("PULSE_COOKIE"), dir + QStringLiteral("/cookie"));
    return env;
}

bool Desktop::startSoundServer(QString* why) {
    if (m_sound)
        return true;
    const QString dir = m_dir.path() + QStringLiteral("/pulse");
    QDir().mkpath(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QProcessEnvironment own = soundEnvironment();
    for (const QString& key : own.keys())
        env.insert(key, own.value(key));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    env.insert(QStringLiteral("HOME"), dir);

    m_sound = std::make_unique<QProcess>();
    m_sound->setProcessEnvironment(env);
    // The server goes with the test even when the test crashes.
    m_sound->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_sound->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // -n: no default script, so nothing but the null sink; as root it only warns.
    m_sound->start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                    QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                    QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-level=error"),
                    QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=e2esink"),
                    QStringLiteral("-L"),
                    QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + dir +
                        QStringLiteral("/native")});
    if (!m_sound->waitForStarted(5000)) {
        *why = QStringLiteral("pulseaudio does not start (is the package pulseaudio installed?)");
        m_sound.reset();
        return false;
    }
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_sound->state() == QProcess::Running) {
        QProcess pactl;
        pactl.setProcessEnvironment(env);
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit &&
            pactl.exitCode() == 0)
            return true;
        QThread::msleep(100);
    }
    *why = QStringLiteral("pulseaudio did not answer");
    m_sound->kill();
    m_sound->waitForFinished(3000);
    m_sound.reset();
    return false;
}
