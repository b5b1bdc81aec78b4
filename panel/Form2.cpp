#include "Form2.h"

#include "CheckMail.h"
#include "DialUp.h"
#include "DialogLook.h"
#include "Form1.h"
#include "Form3.h"
#include "HomePage.h"
#include "Module1.h"
#include "Module4.h"
#include "MsgBox.h"
#include "SetForm.h"
#include "WindowRegistry.h"

#include <QEvent>
#include <QPushButton>
#include <QTimer>

namespace {

QPushButton* makeButton(QWidget* parent, const QString& caption, float l, float t, float w, float h,
                        quint32 backColour)
{
    auto* b = new QPushButton(caption, parent);
    DialogLook::place(b, l, t, w, h);
    if (backColour)
        DialogLook::setBackColour(b, backColour);
    b->setMouseTracking(true);
    return b;
}

} // namespace

Form2::Form2(QWidget* parent) : VbForm(parent)
{
    DialogLook::setUpDialog(this, QStringLiteral("モコポン"), 2370, 225);

    Command1 = makeButton(this, QStringLiteral("吠える"), 0, 0, 720, 255, 0x00FFC0C0);
    Command2 = makeButton(this, QStringLiteral("受信"), 720, 0, 495, 255, 0x00FFC0C0);
    Command3 = makeButton(this, QStringLiteral("設定"), 1200, 0, 615, 255, 0x00FF8080);
    Command4 = makeButton(this, QStringLiteral("HP"), 1800, 0, 600, 255, 0x0080FF80);
    Command5 = makeButton(this, QStringLiteral("切断"), 120, 480, 1095, 375, 0);
    // 受信 is drawn over 設定's first pixel, as on the original bar.
    Command2->raise();
    for (QPushButton* b : {Command2, Command3, Command4})
        b->installEventFilter(this);

    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Command1);

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);

    // The panel's own moves pin the character at once (moveEvent); this timer only brings back a
    // character dragged away from its place, without the cost of a 1 ms poll.
    Timer1 = new QTimer(this);
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &Form2::Timer1_Timer);
}

void Form2::Form_Load()
{
    Form1* character = win<Form1>();
    setTop(character->Top() + kCharacterAbove);
    setLeft(character->Left() - kCharacterRight);
    makeTopmost(true);
    // Held at once when its own screen keeping moves it, so the companion never meets it there.
    connect(character, &CharacterWindow::ticked, this, [this] {
        if (Timer1->isActive())
            Timer1_Timer();
    });
    // 受信 comes first in the tab order, so the panel opens with the focus on it.
    Command2->setFocus();
    Timer1->start();
}

void Form2::Timer1_Timer()
{
    Form1* character = win<Form1>();
    character->setTop(Top() - kCharacterAbove);
    character->setLeft(Left() + kCharacterRight);
}

void Form2::moveEvent(QMoveEvent* event)
{
    VbForm::moveEvent(event);
    if (Timer1->isActive())
        Timer1_Timer();
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        if (watched == Command2)
            setWindowTitle(QStringLiteral("メールチェック"));
        else if (watched == Command3)
            setWindowTitle(QStringLiteral("各種設定"));
        else if (watched == Command4)
            setWindowTitle(QStringLiteral("作者のHP"));
    }
    return VbForm::eventFilter(watched, event);
}

void Form2::Command1_Click()
{
    Form3* companion = win<Form3>();
    Form1* character = win<Form1>();
    companion->Show();
    character->Hide();
    companion->setLeft(character->Left());
    companion->setTop(character->Top());
    BarkMode = 1;
}

void Form2::Command2_Click() { CheckMail(); }

void Form2::Command3_Click() { win<SetForm>()->Show(); }

void Form2::Command4_Click()
{
    const int answer = MsgBox(QStringLiteral("「ポプリ堂」作者のホームページです。ちょっと見てみますか？"),
                              MsgBoxStyle::YesNo | MsgBoxStyle::Question, QStringLiteral("確認"));
    if (answer == MsgBoxResult::Yes)
        OpenHomePage();
}

void Form2::Command5_Click() { HangUpDialUpConnections(); }

bool Form2::Form_QueryUnload()
{
    PlayEffectSound(QString(), false, false, false, true);
    return true;
}

void Form2::Form_Unload()
{
    Timer1->stop();
    Form3* companion = win<Form3>();
    Form1* character = win<Form1>();
    companion->Hide();
    companion->setLeft(character->Left() + 1);
    companion->setTop(character->Top() + 1);
    character->Show();
    BarkMode = 0;
    PlayEffectSound(QString(), false, false, false, true);
}
