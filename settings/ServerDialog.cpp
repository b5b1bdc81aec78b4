#include "ServerDialog.h"

#include "DialogLook.h"
#include "ErrorMessages.h"
#include "ProfileFile.h"
#include "ServerSettings.h"
#include "SharedSettings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using DialogLook::place;

namespace {
constexpr quint32 kBlue = 0x00FF0000;
}

ServerDialog::ServerDialog(QWidget* parent) : ProgramWindow(parent) {
    DialogLook::setUpDialog(this, QStringLiteral("サーバー"), 2910, 2970);

    Label1 = new QLabel(QStringLiteral("SMTPサーバー名(&S)"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 120, 120, 1575, 195);
    SmtpText = new QLineEdit(this);
    SmtpText->setObjectName(QStringLiteral("SmtpText"));
    place(SmtpText, 120, 360, 2652, 264);
    Label2 = new QLabel(QStringLiteral("POP3サーバー名(&P)"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    place(Label2, 120, 720, 1635, 195);
    Pop3Text = new QLineEdit(this);
    Pop3Text->setObjectName(QStringLiteral("Pop3Text"));
    place(Pop3Text, 120, 960, 2652, 264);
    Label3 = new QLabel(QStringLiteral("メールアドレス(&M)"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    place(Label3, 120, 1320, 1635, 195);
    MailText = new QLineEdit(this);
    MailText->setObjectName(QStringLiteral("MailText"));
    place(MailText, 120, 1560, 2652, 264);
    // A label's access key moves to the box below it.
    Label1->setBuddy(SmtpText);
    Label2->setBuddy(Pop3Text);
    Label3->setBuddy(MailText);
    for (QLabel* l : {Label1, Label2, Label3}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        DialogLook::setTextColour(l, kBlue);
        DialogLook::fitText(l);
    }

    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    place(ApopCheck, 480, 2040, 2172, 252);
    DialogLook::setTextColour(ApopCheck, kBlue);
    DialogLook::fitText(ApopCheck);
    // A greyed box (a stored 2) goes to ticked when clicked and from then on only ticks and
    // clears, like any other box.
    connect(ApopCheck, &QCheckBox::clicked, this, [this] {
        if (ApopCheck->checkState() != Qt::PartiallyChecked)
            ApopCheck->setTristate(false);
    });

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    place(OkCommand, 660, 2520, 972, 372);
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    place(CancelCommand, 1860, 2520, 912, 372);
    // No default button: Enter presses only a button that has the focus, as on Windows.
    OkCommand->setAutoDefault(true);
    CancelCommand->setAutoDefault(true);

    connect(OkCommand, &QPushButton::clicked, this, &ServerDialog::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &ServerDialog::CancelCommand_Click);

    setTabOrder(MailText, CancelCommand);
    setTabOrder(CancelCommand, OkCommand);
    setTabOrder(OkCommand, ApopCheck);
    setTabOrder(ApopCheck, Pop3Text);
    setTabOrder(Pop3Text, SmtpText);
    MailText->setFocus();
}

void ServerDialog::Form_Load() {
    centreOnScreen();
    makeTopmost(true);
    SmtpText->setText(SmtpServer);
    Pop3Text->setText(Pop3Server);
    MailText->setText(MailAddress);
    // A hand-edited flag outside 0 to 2 still means APOP: the box shows it ticked.
    if (ApopFlag == 2) {
        ApopCheck->setTristate(true);
        ApopCheck->setCheckState(Qt::PartiallyChecked);
    } else {
        ApopCheck->setCheckState(ApopFlag != 0 ? Qt::Checked : Qt::Unchecked);
    }
}

void ServerDialog::OkCommand_Click() {
    QStringList bad;
    if (!ProfileFile::canStore(SmtpText->text()))
        bad.append(QStringLiteral("SMTPサーバー名"));
    if (!ProfileFile::canStore(Pop3Text->text()))
        bad.append(QStringLiteral("POP3サーバー名"));
    if (!ProfileFile::canStore(MailText->text()))
        bad.append(QStringLiteral("メールアドレス"));
    if (!bad.isEmpty()) {
        ErrorMessages::show(ErrorMessages::unencodable(bad));
        return;
    }
    // The new values are in use only once they are saved, so that 中止 after a failed save
    // leaves those of before.
    const QString oldSmtp = SmtpServer;
    const QString oldPop3 = Pop3Server;
    const QString oldMail = MailAddress;
    const qint16 oldApop = ApopFlag;
    SmtpServer = SmtpText->text();
    Pop3Server = Pop3Text->text();
    MailAddress = MailText->text();
    switch (ApopCheck->checkState()) {
    case Qt::Unchecked:
        ApopFlag = 0;
        break;
    case Qt::Checked:
        ApopFlag = 1;
        break;
    case Qt::PartiallyChecked:
        ApopFlag = 2;
        break;
    }
    if (SaveServerSettings() != SaveResult::Saved) {
        SmtpServer = oldSmtp;
        Pop3Server = oldPop3;
        MailAddress = oldMail;
        ApopFlag = oldApop;
        // The dialog stays open, with what was typed, to try again.
        ErrorMessages::show(
            ErrorMessages::notWritten(QStringLiteral("サーバーの設定"), serverSettingsFilePath()));
        return;
    }
    Unload();
}

void ServerDialog::CancelCommand_Click() {
    Unload();
}

void ServerDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        CancelCommand->click();
        return;
    }
    ProgramWindow::keyPressEvent(event);
}
