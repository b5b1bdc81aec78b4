#include "ControlPanel.h"

#include "CheckMail.h"
#include "Companion.h"
#include "DialUp.h"
#include "DialogLook.h"
#include "EffectSound.h"
#include "HomePage.h"
#include "MsgBox.h"
#include "ProgramState.h"
#include "SettingsDialog.h"
#include "StartupCharacter.h"
#include "WindowRegistry.h"

#include <QEvent>
#include <QPushButton>
#include <QTimer>

namespace {

QPushButton* makeButton(QWidget* parent, const QString& caption, float l, float t, float w, float h,
                        quint32 backColour) {
    auto* b = new QPushButton(caption, parent);
    DialogLook::place(b, l, t, w, h);
    if (backColour)
        DialogLook::setBackColour(b, backColour);
    b->setMouseTracking(true);
    return b;
}

} // namespace

ControlPanel::ControlPanel(QWidget* parent) : ProgramWindow(parent) {
    DialogLook::setUpDialog(this, QStringLiteral("モコポン"), 2370, 225);

    Command1 = makeButton(this, QStringLiteral("吠える"), 0, 0, 720, 255, 0x00FFC0C0);
    Command2 = makeButton(this, QStringLiteral("受信"), 720, 0, 495, 255, 0x00FFC0C0);
    Command3 = makeButton(this, QStringLiteral("設定"), 1200, 0, 615, 255, 0x00FF8080);
    Command4 = makeButton(this, QStringLiteral("HP"), 1800, 0, 600, 255, 0x0080FF80);
    Command5 = makeButton(this, QStringLiteral("切断"), 120, 480, 1095, 375, 0);
    // 受信 is drawn over 設定's first pixel, as on the Windows version's bar.
    Command2->raise();
    for (QPushButton* b : {Command2, Command3, Command4})
        b->installEventFilter(this);

    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Command1);

    connect(Command1, &QPushButton::clicked, this, &ControlPanel::bark);
    connect(Command2, &QPushButton::clicked, this, &ControlPanel::checkMail);
    connect(Command3, &QPushButton::clicked, this, &ControlPanel::openSettings);
    connect(Command4, &QPushButton::clicked, this, &ControlPanel::offerHomePage);
    connect(Command5, &QPushButton::clicked, this, &ControlPanel::hangUp);

    // The panel's own moves pin the character at once (moveEvent); this timer only brings back a
    // character dragged away from its place, without the cost of a 1 ms poll.
    Timer1 = new QTimer(this);
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &ControlPanel::holdCharacter);
}

void ControlPanel::Form_Load() {
    StartupCharacter* character = win<StartupCharacter>();
    setTop(character->Top() + kCharacterAbove);
    setLeft(character->Left() - kCharacterRight);
    makeTopmost(true);
    // Held at once when its own screen keeping moves it, so the companion never meets it there.
    connect(character, &CharacterWindow::ticked, this, [this] {
        if (Timer1->isActive())
            holdCharacter();
    });
    // 受信 comes first in the tab order, so the panel opens with the focus on it.
    Command2->setFocus();
    Timer1->start();
}

void ControlPanel::holdCharacter() {
    StartupCharacter* character = win<StartupCharacter>();
    character->setTop(Top() - kCharacterAbove);
    character->setLeft(Left() + kCharacterRight);
}

void ControlPanel::moveEvent(QMoveEvent* event) {
    ProgramWindow::moveEvent(event);
    if (Timer1->isActive())
        holdCharacter();
}

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        if (watched == Command2)
            setWindowTitle(QStringLiteral("メールチェック"));
        else if (watched == Command3)
            setWindowTitle(QStringLiteral("各種設定"));
        else if (watched == Command4)
            setWindowTitle(QStringLiteral("作者のHP"));
    }
    return ProgramWindow::eventFilter(watched, event);
}

void ControlPanel::bark() {
    Companion* companion = win<Companion>();
    StartupCharacter* character = win<StartupCharacter>();
    companion->Show();
    character->Hide();
    companion->setLeft(character->Left());
    companion->setTop(character->Top());
    BarkMode = 1;
}

void ControlPanel::checkMail() {
    ::checkMail();
}

void ControlPanel::openSettings() {
    win<SettingsDialog>()->Show();
}

void ControlPanel::offerHomePage() {
    const int answer =
        MsgBox(QStringLiteral("「ポプリ堂」作者のホームページです。ちょっと見てみますか？"),
               MsgBoxStyle::YesNo | MsgBoxStyle::Question, QStringLiteral("確認"));
    if (answer == MsgBoxResult::Yes)
        OpenHomePage();
}

void ControlPanel::hangUp() {
    HangUpDialUpConnections();
}

bool ControlPanel::Form_QueryUnload() {
    EffectSound::stop();
    return true;
}

void ControlPanel::Form_Unload() {
    Timer1->stop();
    Companion* companion = win<Companion>();
    StartupCharacter* character = win<StartupCharacter>();
    companion->Hide();
    companion->setLeft(character->Left() + 1);
    companion->setTop(character->Top() + 1);
    character->Show();
    BarkMode = 0;
    EffectSound::stop();
}
