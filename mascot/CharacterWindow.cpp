#include "CharacterWindow.h"

#include "EffectSound.h"
#include "MsgBox.h"
#include "Program.h"
#include "ProgramFolders.h"
#include "ProgramState.h"
#include "TaskbarHint.h"
#include "Tick.h"
#include "Twips.h"

#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleHints>
#include <QTimer>

namespace {

// Frames that show the same picture share one copy of it.
QImage framePicture(char letter) {
    static QHash<char, QImage> pictures;
    auto it = pictures.find(letter);
    if (it == pictures.end()) {
        // Naming the format spares probing every image plugin at start-up.
        const QImage img(QStringLiteral(":/frames/%1.png").arg(QLatin1Char(letter)), "PNG");
        it = pictures.insert(letter, img.convertToFormat(QImage::Format_RGB32));
    }
    return *it;
}

} // namespace

CharacterWindow::CharacterWindow(const QString& title, const char* images, float designWidth,
                                 float designHeight, QWidget* parent)
    : ProgramWindow(parent) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setWindowTitle(title);
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int i = 0; i < 8; ++i)
        framePictures[size_t(i)] = framePicture(images[i]);
    m_shown = framePictures[0];

    // The sound controls lie beyond the 120 x 180 picture, so nobody sees or clicks them; only the
    // keyboard reaches the sound button, and the check boxes stay as they are made.
    synchronousBox = new QCheckBox(QStringLiteral("同期再生(&S)"), this);
    loopBox = new QCheckBox(QStringLiteral("繰り返し再生(&L)"), this);
    inMemoryBox = new QCheckBox(QStringLiteral("VB でのオンメモリ再生(&O)"), this);
    soundButton = new QPushButton(QStringLiteral("Command2"), this);
    synchronousBox->setGeometry(200, 0, 160, 20);
    loopBox->setGeometry(200, 20, 160, 20);
    inMemoryBox->setGeometry(200, 40, 160, 20);
    // Nothing lets the user set them: hidden, they take no focus and answer no access key.
    for (QCheckBox* box : {synchronousBox, loopBox, inMemoryBox}) {
        box->setFocusPolicy(Qt::NoFocus);
        box->hide();
    }
    soundButton->setGeometry(200, 60, 80, 24);
    connect(soundButton, &QPushButton::clicked, this, &CharacterWindow::playSound);

    // Created centred with the design-time size; the load sizes and places it.
    setWidth(designWidth);
    setHeight(designHeight);
    centreOnScreen();

    tickTimer = new QTimer(this);
    tickTimer->setInterval(2000);
    connect(tickTimer, &QTimer::timeout, this, [this] { tick(); });
    tickTimer->start();
}

void CharacterWindow::buildOutlines() {
    for (size_t i = 0; i < framePictures.size(); ++i)
        frameOutlines[i] = buildOutline(framePictures[i]);
}

void CharacterWindow::showFrame(int f) {
    if (f < 0 || f > 7)
        return;
    const FrameRegionSlot& slot = frameOutlines[size_t(f)];
    currentOutline = regionFromSlot(slot);
    m_shown = framePictures[size_t(f)];
    update();
    if (currentOutline.isEmpty()) {
        // No outline to give: the window shows as its full rectangle.
        clearMask();
        m_hasRegion = false;
        return;
    }
    setMask(currentOutline);
    m_hasRegion = true;
}

void CharacterWindow::loadCharacter() {
    buildOutlines();
    m_tppX = Twips::perPixelX();
    m_tppY = Twips::perPixelY();
    setWidth(float(framePictures[0].width()) * m_tppX);
    setHeight(float(framePictures[0].height()) * m_tppY);
    makeTopmost(false);
    const QPoint p = QCursor::pos();
    setTop(float(p.y()) * m_tppY);
    setLeft(float(p.x()) * m_tppX);
}

void CharacterWindow::runTick(bool holdFrameZero) {
    TickInput in;
    in.left = Left();
    in.top = Top();
    in.frameWidth = float(framePictures[0].width()) * Twips::perPixelX();
    in.frameHeight = float(framePictures[0].height()) * Twips::perPixelY();
    in.screenWidth = Twips::screenWidth();
    in.screenHeight = Twips::screenHeight();
    const TickResult r = animationTick(in, frameStep, holdFrameZero);
    setTop(float(r.top));
    setLeft(float(r.left));
    showFrame(r.frame);
    emit ticked();
}

void CharacterWindow::onMouseDown(int button) {
    if (button & 1) {
        // Dragged like a caption bar, once the pointer has gone past the drag distance.
        m_dragArmed = true;
        m_dragOffset = QCursor::pos() - pos();
        m_pressAt = QCursor::pos();
        return;
    }
    if (button == 2)
        Program::endAtOnce();
}

void CharacterWindow::playSound() {
    EffectSound::stop();
    const qint32 result = EffectSound::play(
        ProgramFolders::resources() + QStringLiteral("/Sound/Kouka.wav"),
        synchronousBox->isChecked(), loopBox->isChecked(), inMemoryBox->isChecked(), false);
    if (result != 0)
        MsgBox(EffectSound::message(result), MsgBoxStyle::Critical, QStringLiteral("エラー"));
}

QPoint CharacterWindow::nativePosition() const {
    QPoint p;
    return isVisible() && windowPositionOnScreen(this, &p) ? p : pos();
}

void CharacterWindow::showEvent(QShowEvent* event) {
    ProgramWindow::showEvent(event);
    // After the map request has gone out; the window manager drops the hint at every hide.
    QTimer::singleShot(0, this, [this] { keepOutOfTaskbar(this); });
}

void CharacterWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawImage(0, 0, m_shown);
}

void CharacterWindow::mousePressEvent(QMouseEvent* event) {
    int button = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        button = 1;
        break;
    case Qt::RightButton:
        button = 2;
        break;
    case Qt::MiddleButton:
        button = 4;
        break;
    default:
        return;
    }
    onMouseDown(button);
}

void CharacterWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    // A move starts only past the drag distance, so a shaky double click stays a double click.
    // The window moves itself: a window manager's move goes by the pointer's way from when it
    // takes over, from where it last placed the window, and lost the first step of every drag.
    // The press grabbed the pointer for this window, so every step of the drag comes here.
    if (m_dragArmed && (QCursor::pos() - m_pressAt).manhattanLength() >=
                           QGuiApplication::styleHints()->startDragDistance()) {
        m_dragArmed = false;
        m_dragging = true;
    }
    if (m_dragging) {
        const QPoint topLeft = QCursor::pos() - m_dragOffset;
        setLeft(float(topLeft.x()) * Twips::perPixelX());
        setTop(float(topLeft.y()) * Twips::perPixelY());
    }
}

void CharacterWindow::mouseReleaseEvent(QMouseEvent*) {
    m_dragArmed = false;
    m_dragging = false;
}

void CharacterWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        onDoubleClick();
}
