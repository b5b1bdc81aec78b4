#pragma once
// What the end-to-end suites share about this program: its window titles, where its windows take
// clicks, and the steps a journey starts and ends with. Desktop drives the X side.

#include "Desktop.h"

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>

class DovecotServer;
class PrivateBus;
class QDBusConnection;

namespace e2e {

inline const QString kCharacterTitle = QStringLiteral("Form1");
inline const QString kCompanionTitle = QStringLiteral("Form3");
inline const QString kPanelTitle = QStringLiteral("モコポン");
inline const QString kNoticeTitle = QStringLiteral("新着お知らせ");
inline const QString kErrorTitle = QStringLiteral("エラー");
inline const QString kQuestionTitle = QStringLiteral("確認");
inline const QString kServerTitle = QStringLiteral("サーバー");
inline const QString kAccountTitle = QStringLiteral("ID,PASS");
inline const QString kSettingsTitle = QStringLiteral("設定");

// A point on the figure of every frame of both characters, in window coordinates: the basket's
// middle.
inline constexpr QPoint kOnFigure(60, 165);

// Pixels of a length in twips on the desktop's 96 dpi (15 twips a pixel).
inline int px(float twips) {
    return qRound(twips / 15.0f);
}
// A control's rectangle in pixels, from its left, top, width and height in twips.
inline QRect pxRect(float l, float t, float w, float h) {
    return QRect(px(l), px(t), px(w), px(h));
}

// Inside the notice's two text boxes, client coordinates, and what its message box says.
inline constexpr QPoint kNoticeMessageBox(100, 9);
inline constexpr QPoint kNoticeCountBox(225, 9);
inline const QString kMailWaiting = QStringLiteral("新着メールが有ります。");
inline const QString kNoMail = QStringLiteral("新着メールはありませんでした。");

// Frame picture A..G as the program ships it, drawn at the given scale (1, 2 or 3).
QImage frameImage(char letter, int scale = 1);
// Which of the pictures A..G the screen shows with its top left corner at the given point, judged
// by the figure's pixels; '?' for none.
char shownPicture(const QImage& screen, const QPoint& at);

// Clicks the middle of a control given by its twips rectangle in the window's client area.
void clickControl(const Desktop& d, const QString& window, float l, float t, float w, float h);
// Fills the account dialog from the keyboard alone: it opens with the focus on the save box,
// and Shift+Tab goes back through the id and password boxes. (A click right after typing
// Japanese can reach the program before the last keys, while xdotool puts its keymap back.)
// Without tick the save box stays clear and the focus stays in the password box.
void fillAccount(const Desktop& d, const QString& window, const QString& user,
                 const QString& password, bool tick = true);

// The panel's buttons; panelButton() is the middle of one in the panel's client area.
enum class PanelButton { Bark, Check, Settings, HomePage };
QPoint panelButton(PanelButton button);

// Where a screenshot of the given file name goes: the build's shots folder.
QString shotPath(const QString& name);

// Starts the program with the pointer, and so the character, at the given point.
QProcess* launchAt(Desktop& d, const QPoint& pointer, const QString& workingDir = QString(),
                   const QProcessEnvironment& extra = QProcessEnvironment());
// Waits for the character's first tick, which gives its outline: before it the whole rectangle
// takes the clicks.
bool waitForOutline(const Desktop& d, const QString& character, int timeoutMs = 5000);
// Double-clicks the character's figure and returns the panel that opens, or nothing.
QString openPanel(const Desktop& d, const QString& character, int timeoutMs = 10000);
// What one of the notice's text boxes says: click into it, select all, copy. Both boxes always
// hold text, so an empty answer means the keys came before the focus did: tried again for a while.
QString noticeText(const Desktop& d, const QString& notice, const QPoint& inBox);
// True once a stream from the program reaches the sound server's sink within the time.
bool barkHeard(const Desktop& d, int timeoutMs);

// What the mail journeys run beside the program: the desktop, Dovecot, a private system bus with
// fakeBus connected to it for a fake NetworkManager, and the sound server (without one every bark
// is an error box).
void startMailServices(Desktop& d, DovecotServer& dovecot, PrivateBus& bus,
                       QDBusConnection& fakeBus);
// The program's environment on a mail journey: the sound server, Dovecot's certificate authority,
// and the private bus as the system bus.
QProcessEnvironment mailEnvironment(const Desktop& d, const PrivateBus& bus);
// The server setting for a port of 127.0.0.1.
QString localServer(quint16 port);
// The server setting, alice's account with the password, and ini.ini holding settingsKeys.
void writeMailSettings(const Desktop& d, const QString& pop3, const QString& password,
                       const QByteArray& settingsKeys);
// A right click on the character's figure at on ends the program at once, and cleanly.
void verifyRightClickEndsProgram(const Desktop& d, QProcess* program, const QPoint& on);

// Kills the program if it still runs and waits until its windows have gone, so that the next
// test finds none of them.
void endProgram(const Desktop& d, QProcess*& program);

} // namespace e2e
