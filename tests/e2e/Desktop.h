#pragma once
// A private X desktop for end-to-end tests: Xvfb with openbox, a throwaway program folder holding a
// copy of the real program, and the X tools that drive and inspect it.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

struct WindowInfo {
    QString id;
    QRect geometry;
    bool viewable = false;
};

class Desktop {
  public:
    Desktop();
    ~Desktop();

    bool start(QString* why, QSize screen = QSize(1024, 768));
    QString display() const { return m_display; }
    QSize screenSize() const { return m_screen; }

    // The copy of the program lives here; its working directory is work().
    QString programFolder() const;
    QString work() const;
    QString runtimeDir() const;

    // Writes a server and an account setting, so that the program starts without a dialog.
    bool writeCompleteSettings() const;

    // Starts the program (a new process each call), with extra environment variables if given.
    QProcess* launch(const QString& workingDir = QString(),
                     const QProcessEnvironment& extra = QProcessEnvironment());

    // Runs an X tool against this display and returns its standard output.
    QString tool(const QString& program, const QStringList& args, int* exitCode = nullptr,
                 int timeoutMs = 15000) const;
    void xdotool(const QStringList& args) const;

    // Gives every character of text that the keymap lacks a spare keycode of its own, and waits
    // until the server has the new keymap. Call it before the program starts: xdotool's own
    // remapping while it types can reach the program after the key that needs it.
    bool mapKeysFor(const QString& text, QString* why) const;
    // Types text key by key on the settled keymap (mapKeysFor first, for non-ASCII text).
    void typeKeys(const QString& text) const;

    // Windows of the given exact title (visible ones only when onlyVisible).
    QStringList findWindows(const QString& title, bool onlyVisible = true) const;
    QString waitForWindow(const QString& title, int timeoutMs = 10000) const;
    WindowInfo info(const QString& id) const;
    // Rectangles of the window's bounding shape, in window coordinates.
    QList<QRect> shapeRects(const QString& id) const;
    QStringList netWmState(const QString& id) const;
    QImage screenshot() const;
    bool saveScreenshot(const QString& path) const;

    // A PulseAudio server of this desktop's own whose only output is a null sink. Programs given
    // soundEnvironment() play into it; record soundMonitor() (parec -d) to hear what came out.
    bool startSoundServer(QString* why);
    QProcessEnvironment soundEnvironment() const;
    QString soundMonitor() const { return QStringLiteral("e2esink.monitor"); }

  private:
    QTemporaryDir m_dir;
    QString m_display;
    QSize m_screen;
    std::unique_ptr<QProcess> m_xvfb;
    std::unique_ptr<QProcess> m_wm;
    std::unique_ptr<QProcess> m_sound;
    QList<QProcess*> m_programs;
};
