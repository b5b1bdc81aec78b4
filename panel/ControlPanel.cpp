#include "ControlPanel.h"

#include "DialUp.h"
#include "DialogLook.h"
#include "EffectSound.h"
#include "HomePage.h"
#include "MessageBoxes.h"
#include "ProgramState.h"

#include <QEvent>
#include <QPushButton>
#include <QTimer>

namespace {

QPushButton* makeButton(QWidget* parent, const QString& caption, float l, float t, float w, float h,
                        const QColor& backColour = QColor()) {
    auto* b = new QPushButton(caption, parent);
    DialogLook::place(b, l, t, w, h);
    if (backColour.isValid())
        DialogLook::setBackColour(b, backColour);
    b->setMouseTracking(true);
    return b;
}

} // namespace

ControlPanel::ControlPanel(Characters characters, Reach reach, QWidget* parent)
    : ProgramWindow(parent), m_characters(std::move(characters)), m_reach(std::move(reach)) {
    DialogLook::setUpDialog(this, QStringLiteral("モコポン"), 2370, 225);

    barkButton = makeButton(this, QStringLiteral("吠える"), 0, 0, 720, 255, QColor(192, 192, 255));
    checkButton = makeButton(this, QStringLiteral("受信"), 720, 0, 495, 255, QColor(192, 192, 255));
    settingsButton =
        makeButton(this, QStringLiteral("設定"), 1200, 0, 615, 255, QColor(128, 128, 255));
    homePageButton =
        makeButton(this, QStringLiteral("HP"), 1800, 0, 600, 255, QColor(128, 255, 128));
    hangUpButton = makeButton(this, QStringLiteral("切断"), 120, 480, 1095, 375);
    // 受信 is drawn over 設定's first pixel, as on the Windows version's bar.
    checkButton->raise();
    for (QPushButton* b : {checkButton, settingsButton, homePageButton})
        b->installEventFilter(this);

    setTabOrder(checkButton, settingsButton);
    setTabOrder(settingsButton, homePageButton);
    setTabOrder(homePageButton, hangUpButton);
    setTabOrder(hangUpButton, barkButton);

    connect(barkButton, &QPushButton::clicked, this, &ControlPanel::bark);
    connect(checkButton, &QPushButton::clicked, this, &ControlPanel::checkMail);
    connect(settingsButton, &QPushButton::clicked, this, &ControlPanel::openSettings);
    connect(homePageButton, &QPushButton::clicked, this, &ControlPanel::offerHomePage);
    connect(hangUpButton, &QPushButton::clicked, this, &ControlPanel::hangUp);

    // The panel's own moves pin the character at once (moveEvent); this timer only brings back a
    // character dragged away from its place, without the cost of a 1 ms poll.
    holdTimer = new QTimer(this);
    holdTimer->setInterval(50);
    connect(holdTimer, &QTimer::timeout, this, &ControlPanel::holdCharacter);
}

void ControlPanel::onLoad() {
    const Characters::Place character = m_characters.place();
    setTopTwips(character.top + kCharacterAbove);
    setLeftTwips(character.left - kCharacterRight);
    makeTopmost(true);
    // Held at once when its own screen keeping moves it, so the companion never meets it there.
    m_characters.hearTick(this, [this] {
        if (holdTimer->isActive())
            holdCharacter();
    });
    // 受信 comes first in the tab order, so the panel opens with the focus on it.
    checkButton->setFocus();
    holdTimer->start();
}

void ControlPanel::holdCharacter() {
    m_characters.pin({leftTwips() + kCharacterRight, topTwips() - kCharacterAbove});
}

void ControlPanel::moveEvent(QMoveEvent* event) {
    ProgramWindow::moveEvent(event);
    if (holdTimer->isActive())
        holdCharacter();
}

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        if (watched == checkButton)
            setWindowTitle(QStringLiteral("メールチェック"));
        else if (watched == settingsButton)
            setWindowTitle(QStringLiteral("各種設定"));
        else if (watched == homePageButton)
            setWindowTitle(QStringLiteral("作者のHP"));
    }
    return ProgramWindow::eventFilter(watched, event);
}

void ControlPanel::bark() {
    m_characters.standIn();
    m_reach.barkMode.on = true;
}

void ControlPanel::checkMail() {
    m_reach.checkMail();
}

void ControlPanel::openSettings() {
    m_reach.openSettings();
}

void ControlPanel::offerHomePage() {
    const MessageBoxes::Answer answer = m_reach.boxes.ask(
        QStringLiteral("「ポプリ堂」作者のホームページです。ちょっと見てみますか？"),
        MessageBoxes::Icon::Question, MessageBoxes::Buttons::YesNo, QStringLiteral("確認"));
    if (answer == MessageBoxes::Answer::Yes)
        openHomePage();
}

void ControlPanel::hangUp() {
    hangUpDialUpConnections();
}

bool ControlPanel::canUnload() {
    EffectSound::stop();
    return true;
}

void ControlPanel::onUnload() {
    holdTimer->stop();
    m_characters.park();
    m_reach.barkMode.on = false;
    EffectSound::stop();
}
