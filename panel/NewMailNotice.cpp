#include "NewMailNotice.h"

#include "DialogLook.h"
#include "EffectSound.h"
#include "ProgramState.h"
#include "Twips.h"

#include <QLineEdit>
#include <QPalette>

NewMailNotice::NewMailNotice(QWidget* parent) : ProgramWindow(parent) {
    DialogLook::setUpDialog(this, QStringLiteral("新着お知らせ"), 3630, 270);

    Text1 = new QLineEdit(QStringLiteral("新着メールはありませんでした。"), this);
    DialogLook::place(Text1, 0, 0, 3135, 270);
    Text1->setFrame(false);
    Text1->setAlignment(Qt::AlignCenter);
    QPalette blue = Text1->palette();
    blue.setColor(QPalette::Base, Twips::oleColor(0x00FF0000));
    Text1->setPalette(blue);

    Text2 = new QLineEdit(this);
    DialogLook::place(Text2, 3120, 0, 495, 270);
    Text2->setFrame(false);
    Text2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The count box lies over the message's last pixel.
    Text2->raise();
    setTabOrder(Text1, Text2);
}

void NewMailNotice::Form_Load() {
    centreOnScreen();
    makeTopmost(true);
}

void NewMailNotice::Form_Unload() {
    BarkMode = 0;
    EffectSound::stop();
}
