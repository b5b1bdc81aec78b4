#include "CharacterWindow.h"

#include "DevicePictures.h"
#include "DeviceShape.h"
#include "EffectSound.h"
#include "MessageBoxes.h"
#include "MixedScale.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "TaskbarHint.h"
#include "Tick.h"
#include "Twips.h"

#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

using PictureCache = QHash<QPair<char, qreal>, QImage>;

PictureCache& pictureCache() {
    static PictureCache pictures;
    return pictures;
}

// Frames that show the same picture share one copy of it, one for each device pixel ratio.
QImage framePicture(char letter, qreal ratio = 1) {
    PictureCache& pictures = pictureCache();
    auto it = pictures.find({letter, ratio});
    if (it == pictures.end()) {
        const int drawn = DevicePictures::drawnScaleFor(ratio);
        // PNG and nothing else: asked to detect, the reader loads every image plugin first.
        QImageReader reader(QStringLiteral(":/frames/%1%2.png")
                                .arg(QLatin1Char(letter))
                                .arg(DevicePictures::suffix(drawn)),
                            "PNG");
        reader.setAutoDetectImageFormat(false);
        QImage img = reader.read().convertToFormat(QImage::Format_RGB32);
        if (drawn != ratio) {
            const QImage plain = framePicture(letter);
            img = DevicePictures::resized(img, DevicePictures::deviceSize(plain.size(), ratio));
        }
        img.setDevicePixelRatio(ratio);
        it = pictures.insert({letter, ratio}, img);
    }
    return *it;
}

// Every monitor, the primary first, in pixels scaled by the given twips per pixel.
QList<QRectF> monitors(float perPixelX = 1, float perPixelY = 1) {
    QList<QRectF> list;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect g = s->geometry();
        list << QRectF(g.x() * perPixelX, g.y() * perPixelY, g.width() * perPixelX,
                       g.height() * perPixelY);
    }
    return list;
}

// Every monitor with its device pixel ratio, as Qt maps windows on them.
QList<ScaledMonitor> scaledMonitors() {
    QList<ScaledMonitor> list;
    for (const QScreen* s : QGuiApplication::screens())
        list << ScaledMonitor{s->geometry(), s->devicePixelRatio()};
    return list;
}

} // namespace

CharacterWindow::CharacterWindow(const QString& title, const char* images, float designWidth,
                                 float designHeight, Surroundings surroundings, QWidget* parent)
    : ProgramWindow(parent), m_surroundings(std::move(surroundings)) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setWindowTitle(title);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_seeThrough = useAlphaChannel(this);
    setSettlesBeforeOutsideMoves(true);
    m_images = images;
    for (int i = 0; i < 8; ++i)
        framePictures[size_t(i)] = framePicture(images[i]);
    m_screenPictures = framePictures;
    m_shown = framePictures[0];

    // The sound controls lie beyond the 120 x 180 picture, so nobody sees or clicks them; only the
    // keyboard reaches the sound button, and the check boxes stay as they are made. Their texts,
    // and the button itself, come once the window is on its way to the screen: the first button
    // text or shown button wakes Qt's accessibility bridge, which waits for a connection to the
    // session bus.
    synchronousBox = new QCheckBox(this);
    loopBox = new QCheckBox(this);
    inMemoryBox = new QCheckBox(this);
    soundButton = new QPushButton(this);
    synchronousBox->setGeometry(200, 0, 160, 20);
    loopBox->setGeometry(200, 20, 160, 20);
    inMemoryBox->setGeometry(200, 40, 160, 20);
    // Nothing lets the user set them: hidden, they take no focus and answer no access key.
    for (QCheckBox* box : {synchronousBox, loopBox, inMemoryBox}) {
        box->setFocusPolicy(Qt::NoFocus);
        box->hide();
    }
    soundButton->setGeometry(200, 60, 80, 24);
    soundButton->hide();
    connect(soundButton, &QPushButton::clicked, this, &CharacterWindow::playSound);

    // Created centred with the design-time size; the load sizes and places it.
    setWidthTwips(designWidth);
    setHeightTwips(designHeight);
    centreOnScreen();

    tickTimer = new QTimer(this);
    tickTimer->setInterval(2000);
    connect(tickTimer, &QTimer::timeout, this, [this] { tick(); });
    tickTimer->start();
}

bool CharacterWindow::fitPicturesToScreen() {
    const qreal ratio = devicePixelRatioF();
    if (ratio == m_pictureRatio)
        return false;
    m_pictureRatio = ratio;
    for (size_t i = 0; i < m_screenPictures.size(); ++i)
        m_screenPictures[i] = framePicture(m_images[qsizetype(i)], ratio);
    return true;
}

void CharacterWindow::releasePictures() {
    if (m_picturesReleased)
        return;
    m_picturesReleased = true;
    for (size_t i = 0; i < framePictures.size(); ++i) {
        framePictures[i] = QImage();
        m_screenPictures[i] = QImage();
    }
    m_shown = QImage();
    m_cut = QImage();
    // Another window showing the same pictures keeps its own reference to them.
    PictureCache& pictures = pictureCache();
    for (auto it = pictures.begin(); it != pictures.end();)
        it = m_images.contains(it.key().first) ? pictures.erase(it) : std::next(it);
#ifdef __GLIBC__
    // Freed in the middle of the heap, the pages would stay with the program.
    malloc_trim(0);
#endif
}

void CharacterWindow::takePicturesBack() {
    if (!m_picturesReleased)
        return;
    m_picturesReleased = false;
    for (size_t i = 0; i < framePictures.size(); ++i) {
        framePictures[i] = framePicture(m_images[qsizetype(i)]);
        m_screenPictures[i] = framePicture(m_images[qsizetype(i)], m_pictureRatio);
    }
    m_shown = m_screenPictures[size_t(qMax(0, m_frame))];
}

void CharacterWindow::fitToNewScreen() {
    if (!fitPicturesToScreen())
        return;
    buildOutlines();
    if (m_frame >= 0) {
        showFrame(m_frame);
    } else {
        // Before the first tick the window has no outline yet.
        m_shown = m_screenPictures[0];
        update();
    }
}

void CharacterWindow::buildOutlines() {
    const int scan = outlineScan(m_pictureRatio);
    for (size_t i = 0; i < m_screenPictures.size(); ++i) {
        // Frames that show the same picture share its outline.
        const auto first = size_t(m_images.indexOf(m_images[qsizetype(i)]));
        frameOutlines[i] =
            first < i ? frameOutlines[first] : buildOutline(m_screenPictures[i], scan);
    }
}

void CharacterWindow::showFrame(int f) {
    if (f < 0 || f > 7)
        return;
    m_frame = f;
    const FrameRegionSlot& slot = frameOutlines[size_t(f)];
    // In device pixels, as the picture it was cut from.
    currentOutline = regionFromSlot(slot);
    m_shown = m_screenPictures[size_t(f)];
    update();
    // An empty outline gives the window its full rectangle.
    m_hasRegion = !currentOutline.isEmpty();
    // The display system takes the outline itself where it can: Qt's mask would step by whole
    // pixels at ratios other than 1, and would have Qt clip every paint to the outline, keeping
    // span tables of it in memory for nothing, since the display system cuts the window anyway.
    if (setDeviceShape(this, currentOutline))
        return;
    QRegion logical;
    if (m_pictureRatio == 1) {
        logical = currentOutline;
    } else {
        for (const QRect& r : currentOutline)
            logical +=
                QRectF(QPointF(r.topLeft()) / m_pictureRatio, QSizeF(r.size()) / m_pictureRatio)
                    .toAlignedRect();
    }
    if (logical.isEmpty())
        clearMask();
    else
        setMask(logical);
}

void CharacterWindow::loadCharacter() {
    fitPicturesToScreen();
    buildOutlines();
    m_tppX = Twips::perPixelX();
    m_tppY = Twips::perPixelY();
    setWidthTwips(float(framePictures[0].width()) * m_tppX);
    setHeightTwips(float(framePictures[0].height()) * m_tppY);
    makeTopmost(false);
    const QPoint p = QCursor::pos();
    setTopTwips(float(p.y()) * m_tppY);
    setLeftTwips(float(p.x()) * m_tppX);
}

void CharacterWindow::runTick(bool holdFrameZero) {
    // Moved by the window manager or another program, the character keeps to its new place.
    followMoveFromOutside();
    const float tppX = Twips::perPixelX();
    const float tppY = Twips::perPixelY();
    const TickInput in = onMonitors(leftTwips(), topTwips(), float(framePictures[0].width()) * tppX,
                                    float(framePictures[0].height()) * tppY, monitors(tppX, tppY));
    const TickResult r = animationTick(in, frameStep, holdFrameZero);
    setTopTwips(float(r.top));
    setLeftTwips(float(r.left));
    // A window taken to a screen of another device pixel ratio shows that screen's pictures.
    if (fitPicturesToScreen())
        buildOutlines();
    showFrame(r.frame);
    emit ticked();
}

QRect CharacterWindow::monitorGeometry() const {
    const QList<QRectF> all = monitors();
    const QRectF window(leftTwips() / Twips::perPixelX(), topTwips() / Twips::perPixelY(),
                        framePictures[0].width(), framePictures[0].height());
    const int m = monitorFor(window, all);
    return m < 0 ? QRect() : all[m].toRect();
}

void CharacterWindow::onMouseDown(Qt::MouseButton button) {
    if (button == Qt::LeftButton) {
        // Dragged like a caption bar, once the pointer has gone past the drag distance.
        // The grabbed point from the press itself: by the time the press is handled (on a busy
        // machine), the pointer can be a step further and the window's reported place older,
        // and the whole drag would then stay that step behind.
        m_dragArmed = true;
        m_pressAt = m_pressed ? m_pressed->first : QCursor::pos();
        m_dragOffset = m_pressed ? m_pressed->second : m_pressAt - pos();
        m_pressed.reset();
        return;
    }
    if (button == Qt::RightButton)
        endProgram();
}

void CharacterWindow::endProgram() {
    m_surroundings.end();
    // The program's end does not return; should it, the process ends here all the same.
    Program::endAtOnce();
}

void CharacterWindow::playSound() {
    EffectSound::stop();
    const qint32 result = EffectSound::play(
        ProgramFolders::resources() + QStringLiteral("/Sound/Kouka.wav"),
        synchronousBox->isChecked(), loopBox->isChecked(), inMemoryBox->isChecked(), false);
    if (result != 0)
        m_surroundings.boxes.tell(EffectSound::message(result), MessageBoxes::Icon::Critical,
                                  QStringLiteral("エラー"));
}

QPoint CharacterWindow::nativePosition() const {
    QPoint p;
    return isVisible() && windowPositionOnScreen(this, &p) ? p : pos();
}

void CharacterWindow::showEvent(QShowEvent* event) {
    ProgramWindow::showEvent(event);
    // Taken to a monitor of another device pixel ratio, the window shows its pictures and outline
    // at once, not a tick later blurred and cut.
    if (QWindow* w = windowHandle())
        connect(w, &QWindow::screenChanged, this, &CharacterWindow::fitToNewScreen,
                Qt::UniqueConnection);
    // After the map request has gone out; the window manager drops the hint at every hide.
    QTimer::singleShot(0, this, [this] {
        keepOutOfTaskbar(this);
        finishSoundControls();
    });
}

void CharacterWindow::finishSoundControls() {
    if (!soundButton->text().isEmpty())
        return;
    synchronousBox->setText(QStringLiteral("同期再生(&S)"));
    loopBox->setText(QStringLiteral("繰り返し再生(&L)"));
    inMemoryBox->setText(QStringLiteral("VB でのオンメモリ再生(&O)"));
    soundButton->setText(QStringLiteral("Command2"));
    soundButton->show();
}

void CharacterWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!m_seeThrough) {
        p.fillRect(rect(), Qt::white);
        p.drawImage(0, 0, m_shown);
        return;
    }
    // Every pixel is painted, the cut-away ones fully transparent, from the first paint on: a
    // compositor shows the desktop there and nothing of an earlier frame.
    if (m_cutFrom != m_shown.cacheKey()) {
        m_cut = cutAway(m_shown);
        m_cutFrom = m_shown.cacheKey();
    }
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), Qt::transparent);
    p.drawImage(0, 0, m_cut);
}

void CharacterWindow::mousePressEvent(QMouseEvent* event) {
    m_pressed = {event->globalPosition().toPoint(), event->position().toPoint()};
    onMouseDown(event->button());
    m_pressed.reset();
}

void CharacterWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    // A move starts only past the drag distance, so a shaky double click stays a double click.
    // The window moves itself: a window manager's move goes by the pointer's way from when it
    // takes over, from where it last placed the window, and lost the first step of every drag.
    // The press grabbed the pointer for this window, so every step of the drag comes here. The
    // pointer is asked where it is now (in the pixels of the monitor it is on, which a mixed
    // scale drag goes by), never earlier than the step.
    if (m_dragArmed && (QCursor::pos() - m_pressAt).manhattanLength() >=
                           QGuiApplication::styleHints()->startDragDistance()) {
        m_dragArmed = false;
        m_dragging = true;
    }
    if (m_dragging)
        dragTo(QCursor::pos());
}

void CharacterWindow::dragTo(const QPoint& pointer) {
    // On monitors of different device pixel ratios the grabbed point stays under the pointer in
    // device pixels.
    const int current = int(QGuiApplication::screens().indexOf(screen()));
    const QPoint topLeft = dragPlace(pointer, m_dragOffset, size(), current, scaledMonitors());
    moveToTwips(float(topLeft.x()) * Twips::perPixelX(), float(topLeft.y()) * Twips::perPixelY());
}

void CharacterWindow::mouseReleaseEvent(QMouseEvent* event) {
    // The drag ends where the button came up, even if the last move before it was lost.
    const bool dragged = m_dragging;
    if (dragged)
        dragTo(event->globalPosition().toPoint());
    m_dragArmed = false;
    m_dragging = false;
    if (dragged)
        emit dragEnded();
}

void CharacterWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        onDoubleClick();
}
