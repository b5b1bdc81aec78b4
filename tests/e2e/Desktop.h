#pragma once
// A private X desktop for end-to-end tests: Xvfb with openbox, a throwaway program folder holding a
// copy of the real program, and the X tools that drive and inspect it.

#include <QDBusConnection>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// Runs this thread's events for the given time. Fakes that answer from this thread (a D-Bus
// service) keep answering while a test waits.
void runEvents(int ms);
// Runs this thread's events until done() holds or the time is up; true when it held.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);
// Whether a compositing manager owns the display's screen 0.
bool compositorRuns(const QString& display);

struct WindowInfo {
    QString id;
    QRect geometry;
    bool viewable = false;
};

class Desktop {
  public:
    Desktop();
    ~Desktop();

    // monitors: splits the screen into these monitors (xrandr --setmonitor), the first one the
    // primary, as a desktop with several monitors has them; none leaves one monitor.
    bool start(QString* why, QSize screen = QSize(1024, 768), const QList<QRect>& monitors = {});
    // The desktops people use, each in its own compositor with a private session bus:
    // mutter as the compositing window manager of an Xvfb screen; gnome-shell's headless Wayland
    // session with XWayland and a private system bus, driven through its remote desktop
    // interface and photographed through its screenshot interface.
    bool startMutterX11(QString* why, QSize screen = QSize(1024, 768));
    bool startGnomeWayland(QString* why, QSize screen = QSize(1024, 768));
    // KWin's virtual Wayland session with XWayland, driven through its fake input protocol and
    // photographed through its screenshot interface.
    bool startKWinWayland(QString* why, QSize screen = QSize(1024, 768));
    bool isWayland() const { return !m_waylandSocket.isEmpty(); }
    // Whether the pointer and the keyboard go through gnome-shell rather than xdotool.
    bool isGnome() const { return m_shell != nullptr; }
    bool isKWin() const { return m_kwin != nullptr; }
    // Starts a Qt program as a native client of this desktop: a Wayland client on a Wayland
    // desktop, an X client on an X desktop.
    QProcess* launchClient(const QString& program, const QStringList& args = {});
    QString display() const { return m_display; }
    QSize screenSize() const { return m_screen; }
    // The monitors as the server has them now.
    QList<QRect> monitors() const;
    // Takes a monitor away, as when it is unplugged (not the first: it holds the screen's output),
    // and waits until the server no longer has it.
    bool unplugMonitor(int index, QString* why);

    // The copy of the program lives here; its working directory is work().
    QString programFolder() const;
    QString work() const;
    QString runtimeDir() const;

    // Writes a server and an account setting, so that the program starts without a dialog.
    bool writeCompleteSettings() const;

    // Starts the program (a new process each call), with extra environment variables if given.
    QProcess* launch(const QString& workingDir = QString(),
                     const QProcessEnvironment& extra = QProcessEnvironment());
    // The same for any command, such as another copy of the program.
    QProcess* launchCommand(const QString& program, const QStringList& args,
                            const QString& workingDir,
                            const QProcessEnvironment& extra = QProcessEnvironment(),
                            QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);
    // The same, made ready but not started: one who times the start calls start() on it.
    QProcess* prepareCommand(const QString& program, const QStringList& args,
                             const QString& workingDir,
                             const QProcessEnvironment& extra = QProcessEnvironment(),
                             QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);

    // Runs an X tool against this display and returns its standard output.
    QString tool(const QString& program, const QStringList& args, int* exitCode = nullptr,
                 int timeoutMs = 15000) const;
    void xdotool(const QStringList& args) const;

    // The pointer and the keyboard, through xdotool.
    void moveTo(const QPoint& p) const;
    void click(const QPoint& p, int button = 1) const;
    void doubleClick(const QPoint& p) const;
    // A button down or up where the pointer is (1 left, 3 right).
    void press(int button = 1) const;
    void release(int button = 1) const;
    // A hand's drag: press at from, a dozen steps to to, release.
    void drag(const QPoint& from, const QPoint& to) const;
    void key(const QString& keys) const;
    // Raises and focuses the window, and waits until the window manager has done so.
    void activate(const QString& id) const;

    // Gives every character of text that the keymap lacks a spare keycode of its own, and waits
    // until the server has the new keymap. Call it before the program starts: xdotool's own
    // remapping while it types can reach the program after the key that needs it.
    bool mapKeysFor(const QString& text, QString* why) const;
    // Types text key by key on the settled keymap (mapKeysFor first, for non-ASCII text).
    void typeKeys(const QString& text) const;

    // Windows of the given exact title (visible ones only when onlyVisible).
    QStringList findWindows(const QString& title, bool onlyVisible = true) const;
    // Both waits run this thread's events.
    QString waitForWindow(const QString& title, int timeoutMs = 10000) const;
    bool waitGone(const QString& title, int timeoutMs = 5000) const;
    WindowInfo info(const QString& id) const;
    // The window's client area with the window manager's frame around it.
    QRect frame(const QString& id) const;
    // Rectangles of the window's bounding shape (or its input shape), in window coordinates.
    QList<QRect> shapeRects(const QString& id, bool input = false) const;
    QStringList netWmState(const QString& id) const;
    // What the screen shows (on a Wayland desktop, what the compositor draws).
    QImage screenshot() const;
    bool saveScreenshot(const QString& path) const;
    // The text on the clipboard, read as UTF-8; empty when nobody answers.
    QString clipboardText() const;

    // A PulseAudio server of this desktop's own whose only output is a null sink. Programs given
    // soundEnvironment() play into it; record soundMonitor() (parec -d) to hear what came out.
    bool startSoundServer(QString* why);
    QProcessEnvironment soundEnvironment() const;
    QString soundMonitor() const { return QStringLiteral("e2esink.monitor"); }
    // Runs pactl against that server and returns its output; empty when it fails.
    QString pactl(const QStringList& args) const;

  private:
    bool startSessionBus(QString* why);
    // Starts a Wayland compositor with XWayland and waits until the session bus has its services
    // and its X display answers (with a cookie file of its own when xauthCookie).
    std::unique_ptr<QProcess> startCompositor(const QString& program, const QStringList& args,
                                              const QProcessEnvironment& env,
                                              const QStringList& services, bool xauthCookie,
                                              QString* why);
    // This process's connection to the desktop's session bus.
    QDBusConnection sessionBus() const;
    QProcessEnvironment busEnvironment() const;
    // gnome-shell's remote desktop session: pointer moves relative to where it is kept.
    bool startRemoteInput(QString* why);
    void gnomeMoveTo(const QPoint& p) const;
    void gnomeButton(int button, bool down) const;
    QImage gnomeScreenshot() const;
    // The pointer through the compositor's own input interface (gnome-shell's or KWin's).
    void compositorMoveTo(const QPoint& p) const;
    void compositorButton(int button, bool down) const;
    QImage kwinScreenshot() const;
    // The working, runtime and program folders both kinds of desktop start with.
    bool prepareFolders(QString* why);
    bool splitIntoMonitors(const QList<QRect>& monitors, QString* why);

    QTemporaryDir m_dir;
    QString m_display;
    QSize m_screen;
    QStringList m_monitorNames;
    std::unique_ptr<QProcess> m_xvfb;
    QString m_waylandSocket;
    std::unique_ptr<QProcess> m_wm;
    std::unique_ptr<QProcess> m_sound;
    std::unique_ptr<QProcess> m_sessionBus;
    std::unique_ptr<QProcess> m_systemBus;
    std::unique_ptr<QProcess> m_shell;
    std::unique_ptr<QProcess> m_kwin;
    // The test's own Wayland connection to KWin with its fake input device (shared: its type
    // stays in the compositors' file).
    struct FakeInput;
    std::shared_ptr<FakeInput> m_fakeInput;
    QString m_sessionBusAddress;
    QString m_systemBusAddress;
    QString m_xauthority;
    QString m_remoteSession;
    mutable QPoint m_pointer;
    bool m_useMutter = false;
    QList<QProcess*> m_programs;
};
