#include "E2e.h"

#include <QDeadlineTimer>
#include <QThread>

namespace e2e {

QImage frameImage(char letter) {
    return QImage(QStringLiteral(MOKOPON_FRAMES_DIR "/%1.png").arg(QLatin1Char(letter)))
        .convertToFormat(QImage::Format_RGB32);
}

char shownPicture(const QImage& screen, const QPoint& at) {
    static const QList<QImage> frames = [] {
        QList<QImage> all;
        for (char letter : QByteArray("ABCDEFG"))
            all << frameImage(letter);
        return all;
    }();
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const QImage& f = frames[i];
        bool same = true;
        for (int y = 0; y < f.height() && same; y += 2)
            for (int x = 0; x < f.width() && same; x += 2) {
                const QRgb c = f.pixel(x, y);
                if ((c & 0xFFFFFF) == 0xFFFFFF)
                    continue;
                const QPoint p = at + QPoint(x, y);
                if (!screen.rect().contains(p) || (screen.pixel(p) & 0xFFFFFF) != (c & 0xFFFFFF))
                    same = false;
            }
        if (same)
            return char('A' + i);
    }
    return '?';
}

void clickControl(const Desktop& d, const QString& window, float l, float t, float w, float h) {
    const QPoint c = pxRect(l, t, w, h).center();
    d.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
               QString::number(c.x()), QString::number(c.y()), QStringLiteral("click"),
               QStringLiteral("1")});
}

void fillAccount(const Desktop& d, const QString& window, const QString& user,
                 const QString& password, bool tick) {
    d.activate(window);
    QThread::msleep(150);
    d.key(QStringLiteral("shift+Tab"));
    d.typeKeys(user);
    d.key(QStringLiteral("shift+Tab"));
    d.typeKeys(password);
    if (!tick)
        return;
    d.key(QStringLiteral("Tab"));
    d.key(QStringLiteral("Tab"));
    d.key(QStringLiteral("space"));
}

QPoint panelButton(PanelButton button) {
    // The buttons' twips rectangles in the panel's form; the client area is 225 twips high.
    switch (button) {
    case PanelButton::Bark:
        return pxRect(0, 0, 720, 255).center();
    case PanelButton::Check:
        return pxRect(720, 0, 495, 255).center();
    case PanelButton::Settings:
        return pxRect(1200, 0, 615, 255).center();
    case PanelButton::HomePage:
        return pxRect(1800, 0, 600, 255).center();
    }
    return {};
}

QString shotPath(const QString& name) {
    return QStringLiteral(MOKOPON_SHOTS_DIR "/") + name;
}

QProcess* launchAt(Desktop& d, const QPoint& pointer, const QString& workingDir,
                   const QProcessEnvironment& extra) {
    d.moveTo(pointer);
    return d.launch(workingDir, extra);
}

bool waitForOutline(const Desktop& d, const QString& character, int timeoutMs) {
    return waitUntil([&] { return d.shapeRects(character).size() > 1; }, timeoutMs);
}

QString openPanel(const Desktop& d, const QString& character, int timeoutMs) {
    d.doubleClick(d.info(character).geometry.topLeft() + kOnFigure);
    return d.waitForWindow(kPanelTitle, timeoutMs);
}

QString noticeText(const Desktop& d, const QString& notice, const QPoint& inBox) {
    QString text;
    QDeadlineTimer deadline(5000);
    do {
        d.activate(notice);
        d.click(d.info(notice).geometry.topLeft() + inBox);
        runEvents(100);
        d.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")});
        runEvents(200);
        text = d.clipboardText();
    } while (text.isEmpty() && !deadline.hasExpired());
    return text;
}

bool barkHeard(const Desktop& d, int timeoutMs) {
    return waitUntil(
        [&] {
            return !d.pactl({QStringLiteral("list"), QStringLiteral("short"),
                             QStringLiteral("sink-inputs")})
                        .trimmed()
                        .isEmpty();
        },
        timeoutMs);
}

void endProgram(const Desktop& d, QProcess*& program) {
    if (program && program->state() != QProcess::NotRunning) {
        program->kill();
        program->waitForFinished(3000);
    }
    program = nullptr;
    waitUntil([&] { return d.findWindows(kCharacterTitle, false).isEmpty(); }, 5000);
}

} // namespace e2e
