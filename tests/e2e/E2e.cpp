#include "E2e.h"

#include <QDeadlineTimer>

namespace e2e {

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
