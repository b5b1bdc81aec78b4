#include "NewMailNotice.h"

#include "DialogLook.h"
#include "EffectSound.h"
#include "ProgramState.h"

#include <QLineEdit>
#include <QPalette>

NewMailNotice::NewMailNotice(BarkMode& barkMode, std::function<QRect()> centredMonitor,
                             QWidget* parent)
    : ProgramWindow(parent), m_barkMode(barkMode), m_centredMonitor(std::move(centredMonitor)) {
    DialogLook::setUpDialog(this, QStringLiteral("新着お知らせ"), 3630, 270);

    // Text given to the constructor is laid out in Qt's default font, shaped; set after, it takes
    // the window's unshaped font.
    messageText = new QLineEdit(this);
    messageText->setText(QStringLiteral("新着メールはありませんでした。"));
    DialogLook::place(messageText, 0, 0, 3135, 270);
    messageText->setFrame(false);
    messageText->setAlignment(Qt::AlignCenter);
    QPalette blue = messageText->palette();
    blue.setColor(QPalette::Base, QColor(Qt::blue));
    messageText->setPalette(blue);

    countText = new QLineEdit(this);
    DialogLook::place(countText, 3120, 0, 495, 270);
    countText->setFrame(false);
    countText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The count box lies over the message's last pixel.
    countText->raise();
    setTabOrder(messageText, countText);
}

void NewMailNotice::onLoad() {
    centreOnScreen(m_centredMonitor);
    makeTopmost(true);
}

void NewMailNotice::onUnload() {
    m_barkMode.on = false;
    EffectSound::stop();
}
