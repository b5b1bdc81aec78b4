#include "ProgramWindow.h"

#include "DesktopFont.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>

ProgramWindow::ProgramWindow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFont(unshapedFont());
}

QFont ProgramWindow::unshapedFont() {
    // Only the strategy is set, so the size, and the family where the desktop's has Japanese,
    // still come from the desktop.
    QFont font;
    DesktopFont::chooseFamily(font);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

void ProgramWindow::setLeftTwips(float twips) {
    m_left = twips;
    placeNative();
}

void ProgramWindow::setTopTwips(float twips) {
    m_top = twips;
    placeNative();
}

void ProgramWindow::moveToTwips(float left, float top) {
    m_left = left;
    m_top = top;
    placeNative();
}

void ProgramWindow::setWidthTwips(float twips) {
    m_width = twips;
    resize(Twips::toPixelsX(m_width), height());
}

void ProgramWindow::setHeightTwips(float twips) {
    m_height = twips;
    resize(width(), Twips::toPixelsY(m_height));
}

void ProgramWindow::placeNative() {
    const QPoint target(Twips::toPixelsX(m_left), Twips::toPixelsY(m_top));
    if (pos() != target || nativePosition() != target) {
        m_placedAt = target;
        move(target);
        // Qt has announced it at once; the window system reports it when it has carried it out.
        m_unreported.push_back(target);
        if (m_unreported.size() > 64)
            m_unreported.pop_front();
    }
}

void ProgramWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Our own moves are announced before the window system has carried them out, and reported
    // again once it has.
    const QPoint twipsAt(Twips::toPixelsX(m_left), Twips::toPixelsY(m_top));
    const auto own = std::find(m_unreported.begin(), m_unreported.end(), pos());
    if (own != m_unreported.end()) {
        m_unreported.erase(m_unreported.begin(), own + 1);
        if (pos() == twipsAt)
            m_settled = true;
        return;
    }
    if (pos() == m_placedAt || !takesMovesFromOutside() || (m_settlesFirst && !m_settled))
        return;
    // A report can trail our placements by more than the ones kept; the window system's own
    // answer tells whether the window stands at one of ours.
    const QPoint now = nativePosition();
    if (now == twipsAt ||
        std::find(m_unreported.begin(), m_unreported.end(), now) != m_unreported.end())
        return;
    // Anything else came from outside (a drag); the twips follow the pixels.
    takeOutsidePlace(now);
}

void ProgramWindow::followMoveFromOutside() {
    if (!isVisible() || !takesMovesFromOutside())
        return;
    const QPoint now = nativePosition();
    if (now == QPoint(Twips::toPixelsX(m_left), Twips::toPixelsY(m_top))) {
        m_settled = true;
        return;
    }
    if ((m_settlesFirst && !m_settled) ||
        std::find(m_unreported.begin(), m_unreported.end(), now) != m_unreported.end())
        return;
    takeOutsidePlace(now);
}

void ProgramWindow::takeOutsidePlace(const QPoint& now) {
    m_placedAt = QPoint(INT_MIN, INT_MIN);
    m_unreported.clear();
    if (now.x() != Twips::toPixelsX(m_left))
        m_left = float(now.x()) * Twips::perPixelX();
    if (now.y() != Twips::toPixelsY(m_top))
        m_top = float(now.y()) * Twips::perPixelY();
}

void ProgramWindow::showOrRaise() {
    if (isVisible()) {
        // A minimised window counts as visible; showing it brings it back.
        if (isMinimized())
            setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
        return;
    }
    show();
}

void ProgramWindow::makeTopmost(bool showWindow) {
    if (!(windowFlags() & Qt::WindowStaysOnTopHint)) {
        const bool wasVisible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        // Changing flags hides a native window; put it back as it was.
        if (wasVisible)
            show();
    }
    if (showWindow)
        showOrRaise();
    raise();
}

void ProgramWindow::centreOnScreen(std::function<QRect()> centredMonitor) {
    m_centredMonitor = std::move(centredMonitor);
    // Tries every 25 ms for up to 5 s: a busy window manager can take its time to frame it.
    m_centreWhenFramed = !isWindow() || windowFlags() & Qt::FramelessWindowHint ? 0 : 200;
    placeCentred();
}

void ProgramWindow::placeCentred() {
    QRect screen = m_centredMonitor ? m_centredMonitor() : QRect();
    if (screen.isEmpty()) {
        const QScreen* s = QGuiApplication::primaryScreen();
        if (!s)
            return;
        screen = s->geometry();
    }
    const QSize size = frameGeometry().size().expandedTo(this->size());
    const QPoint topLeft(screen.x() + (screen.width() - size.width()) / 2,
                         screen.y() + (screen.height() - size.height()) / 2);
    setLeftTwips(float(topLeft.x()) * Twips::perPixelX());
    setTopTwips(float(topLeft.y()) * Twips::perPixelY());
}

void ProgramWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window manager takes a shown window on anew.
    if (!event->spontaneous())
        m_settled = false;
    if (m_centreWhenFramed > 0)
        QTimer::singleShot(0, this, &ProgramWindow::centreOnceFramed);
}

void ProgramWindow::centreOnceFramed() {
    // The window manager's frame is known only once the window is on the screen; centre the whole
    // window then, unless the user has moved it meanwhile.
    if (m_centreWhenFramed <= 0 || !isVisible())
        return;
    if (frameGeometry().size() == size()) {
        --m_centreWhenFramed;
        QTimer::singleShot(25, this, &ProgramWindow::centreOnceFramed);
        return;
    }
    m_centreWhenFramed = 0;
    if (pos() == m_placedAt)
        placeCentred();
}

bool ProgramWindow::unload() {
    if (m_unloading)
        return true;
    if (!canUnload())
        return false;
    m_unloading = true;
    onUnload();
    hide();
    if (m_forget)
        m_forget();
    deleteLater();
    return true;
}

void ProgramWindow::closeEvent(QCloseEvent* event) {
    // The close box and the system's close command unload the window.
    event->ignore();
    if (!m_unloading)
        unload();
}
