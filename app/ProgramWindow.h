#pragma once
// Base of the program's seven windows.
//
// A window is loaded once it exists (LazyWindow makes and loads most of them at their first use)
// and destroyed by its unload. Position and size are kept in twips as float, exactly as the
// program's logic compares and copies them; the native window follows at the nearest whole pixel,
// and a move made by the window manager (a drag) is read back as pixels times twips per pixel.

#include <QFont>
#include <QWidget>
#include <climits>
#include <deque>
#include <functional>

class ProgramWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ProgramWindow(QWidget* parent = nullptr);

    // The desktop's font, drawn without OpenType shaping. Japanese and Latin need none, and an
    // unshaped font never loads its layout tables or the shaper: about 1 MB with a CJK font.
    static QFont unshapedFont();

    float leftTwips() const { return m_left; }
    float topTwips() const { return m_top; }
    float widthTwips() const { return m_width; }
    float heightTwips() const { return m_height; }
    void setLeftTwips(float twips);
    void setTopTwips(float twips);
    // Both at once: one move, with no stop at the new left and the old top on the way.
    void moveToTwips(float left, float top);
    // Sizes are of the client area for a framed window, of the whole window otherwise.
    void setWidthTwips(float twips);
    void setHeightTwips(float twips);

    // Modeless show: a visible window is only brought forward.
    void showOrRaise();
    // Above every window that is not always on top itself, where it stands and at its size;
    // showWindow also shows it.
    void makeTopmost(bool showWindow);
    // Centre on the monitor centredMonitor gives in pixels (the one the character stands on), the
    // primary screen when there is none or it gives an empty rectangle.
    void centreOnScreen(std::function<QRect()> centredMonitor = {});

    // Unloads the window: canUnload, onUnload, then it is destroyed and forgotten.
    // Returns false when canUnload refused.
    bool unload();

    // Run by whoever keeps the window once it exists, before anyone else gets it.
    virtual void onLoad() {}
    // Return false to cancel the unload.
    virtual bool canUnload() { return true; }
    virtual void onUnload() {}

    // Set by whoever keeps the window (LazyWindow): forgets it when the window is unloaded.
    void setForget(std::function<void()> forget) { m_forget = std::move(forget); }

  protected:
    // Where the window really stands. Some window managers report a wrong place in their
    // notifications; a window that can ask the display system does so here.
    virtual QPoint nativePosition() const { return pos(); }
    // Whether a move from outside (the window manager's drag) sets the twips.
    virtual bool takesMovesFromOutside() const { return true; }
    // For a window that places itself: after each show, reports of anyone else's moves count only
    // once the window system has put the window where the program placed it, so that a report
    // read while the window manager takes the window on cannot misplace it.
    void setSettlesBeforeOutsideMoves(bool settles) { m_settlesFirst = settles; }
    // Takes the window's place from the window system when someone else has moved it there and
    // its report has not come yet (it can trail the next placement of ours).
    void followMoveFromOutside();
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    void placeNative();
    // The window stands at the given place by someone else's doing: the twips follow.
    void takeOutsidePlace(const QPoint& now);
    void placeCentred();
    void centreOnceFramed();

    QPoint m_placedAt{INT_MIN, INT_MIN};
    // Own placements the window system has not reported back yet, oldest first: during a drag its
    // reports trail the placements, and an old one must not count as a move from outside.
    std::deque<QPoint> m_unreported;
    float m_left = 0;
    float m_top = 0;
    float m_width = 0;
    float m_height = 0;
    bool m_unloading = false;
    bool m_settlesFirst = false;
    // Whether the window system has carried out one of our placements since the window showed.
    bool m_settled = false;
    // Attempts left to centre the framed window once its frame is known.
    int m_centreWhenFramed = 0;
    std::function<QRect()> m_centredMonitor;
    std::function<void()> m_forget;
};
