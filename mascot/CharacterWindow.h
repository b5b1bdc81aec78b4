#pragma once
// What the two character windows share: the frame pictures, their outlines, the animation timer,
// the pointer handling and the hidden sound controls.
//
// Load builds the eight outlines once; every tick keeps the window on its monitor, picks a frame
// and gives the window that frame's picture and outline. framePictures holds the 1x pictures, which
// give the window its size; the window shows the pictures drawn for its screen's device pixel
// ratio, with their outlines at device resolution.

#include "Outline.h"
#include "ProgramWindow.h"

#include <QImage>
#include <QRegion>
#include <array>
#include <functional>
#include <optional>
#include <utility>

class MessageBoxes;
class QCheckBox;
class QPushButton;
class QTimer;

class CharacterWindow : public ProgramWindow {
    Q_OBJECT
  public:
    // What a character needs of the program: the boxes a bark that cannot play says why in, and
    // the program's immediate end (a right click, or the character's unload).
    struct Surroundings {
        MessageBoxes& boxes;
        std::function<void()> end;
    };

    // images: the picture of each of the eight frames, as letters A..G of the artwork.
    CharacterWindow(const QString& title, const char* images, float designWidth, float designHeight,
                    Surroundings surroundings, QWidget* parent);

    qint16 frameStep = 0;
    std::array<QImage, 8> framePictures;
    std::array<FrameRegionSlot, 8> frameOutlines;
    QRegion currentOutline;

    QTimer* tickTimer = nullptr;
    QCheckBox* synchronousBox = nullptr;
    QCheckBox* loopBox = nullptr;
    QCheckBox* inMemoryBox = nullptr;
    QPushButton* soundButton = nullptr;

    void buildOutlines();
    void showFrame(int f);

    // The left button drags the character, the right one ends the program.
    void onMouseDown(Qt::MouseButton button);
    virtual void onDoubleClick() {}
    void playSound();
    virtual void tick() = 0;

    // The frame picture the window shows now, at the device pixel ratio of its screen.
    const QImage& shownPicture() const { return m_shown; }
    bool hasRegion() const { return m_hasRegion; }

    // The monitor the character keeps to (the one holding its centre, or the nearest), in pixels.
    QRect monitorGeometry() const;

  signals:
    // After a tick's screen keeping has placed the window; whoever holds it in place takes it back
    // here, before any other timer can see where the tick put it.
    void ticked();
    // When the user has let go of the character after dragging it.
    void dragEnded();

  protected:
    // Load steps shared by both characters: outlines, size, topmost, placement at the pointer.
    void loadCharacter();
    // Ends the program at once.
    [[noreturn]] void endProgram();
    // A window nobody sees needs no pictures: released, they are read again before it shows.
    // Its outlines stay, and so does its size.
    void releasePictures();
    void takePicturesBack();
    // Screen keeping and the frame change of one tick.
    void runTick(bool holdFrameZero);

    QPoint nativePosition() const override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Places the window for a drag whose pointer is at the given point.
    void dragTo(const QPoint& pointer);
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    Surroundings m_surroundings;
    // Takes the pictures for the screen's device pixel ratio when it is not the one they are for.
    bool fitPicturesToScreen();
    // The same on a move to another screen, with the outline of the frame shown.
    void fitToNewScreen();
    // The sound controls' texts and the sound button, once the window has first been shown.
    void finishSoundControls();

    // The frame pictures the window shows, at m_pictureRatio device pixels to the pixel.
    std::array<QImage, 8> m_screenPictures;
    qreal m_pictureRatio = 1;
    // The letters of the eight frames' pictures.
    QByteArray m_images;
    QImage m_shown;
    // Drawn by its alpha channel: m_shown with its cut-away parts transparent, made from the
    // picture whose cache key m_cutFrom holds.
    bool m_seeThrough = false;
    QImage m_cut;
    qint64 m_cutFrom = 0;
    // The frame shown last; -1 before the first.
    int m_frame = -1;
    bool m_hasRegion = false;
    bool m_picturesReleased = false;
    float m_tppX = 15;
    float m_tppY = 15;
    // Only when the window manager refuses to move the window for us.
    bool m_dragArmed = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
    QPoint m_pressAt;
    // The press being handled: where on the screen, and where in the window.
    std::optional<std::pair<QPoint, QPoint>> m_pressed;
};
