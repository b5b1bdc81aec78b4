#include "ServerDialog.h"

#include "DialogLook.h"
#include "ErrorMessages.h"
#include "ProfileFile.h"
#include "ServerSettings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using DialogLook::place;

namespace {

const QColor kBlue(Qt::blue);

} // namespace

ServerDialog::ServerDialog(ServerSettings& inUse, MessageBoxes& boxes,
                           std::function<QRect()> centredMonitor, QWidget* parent)
    : ProgramWindow(parent), m_inUse(inUse), m_boxes(boxes),
      m_centredMonitor(std::move(centredMonitor)) {
    DialogLook::setUpDialog(this, QStringLiteral("サーバー"), 2910, 2970);

    smtpLabel = new QLabel(QStringLiteral("SMTPサーバー名(&S)"), this);
    smtpLabel->setObjectName(QStringLiteral("smtpLabel"));
    place(smtpLabel, 120, 120, 1575, 195);
    smtpEdit = new QLineEdit(this);
    smtpEdit->setObjectName(QStringLiteral("smtpEdit"));
    place(smtpEdit, 120, 360, 2652, 264);
    pop3Label = new QLabel(QStringLiteral("POP3サーバー名(&P)"), this);
    pop3Label->setObjectName(QStringLiteral("pop3Label"));
    place(pop3Label, 120, 720, 1635, 195);
    pop3Edit = new QLineEdit(this);
    pop3Edit->setObjectName(QStringLiteral("pop3Edit"));
    place(pop3Edit, 120, 960, 2652, 264);
    mailLabel = new QLabel(QStringLiteral("メールアドレス(&M)"), this);
    mailLabel->setObjectName(QStringLiteral("mailLabel"));
    place(mailLabel, 120, 1320, 1635, 195);
    mailEdit = new QLineEdit(this);
    mailEdit->setObjectName(QStringLiteral("mailEdit"));
    place(mailEdit, 120, 1560, 2652, 264);
    // A label's access key moves to the box below it.
    smtpLabel->setBuddy(smtpEdit);
    pop3Label->setBuddy(pop3Edit);
    mailLabel->setBuddy(mailEdit);
    for (QLabel* l : {smtpLabel, pop3Label, mailLabel}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        DialogLook::setTextColour(l, kBlue);
        DialogLook::fitText(l);
    }

    apopBox = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    apopBox->setObjectName(QStringLiteral("apopBox"));
    place(apopBox, 480, 2040, 2172, 252);
    DialogLook::setTextColour(apopBox, kBlue);
    DialogLook::fitText(apopBox);
    // A greyed box (a stored 2) goes to ticked when clicked and from then on only ticks and
    // clears, like any other box.
    connect(apopBox, &QCheckBox::clicked, this, [this] {
        if (apopBox->checkState() != Qt::PartiallyChecked)
            apopBox->setTristate(false);
    });

    saveButton = new QPushButton(QStringLiteral("設定"), this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    place(saveButton, 660, 2520, 972, 372);
    cancelButton = new QPushButton(QStringLiteral("中止"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    place(cancelButton, 1860, 2520, 912, 372);
    // No default button: Enter presses only a button that has the focus, as on Windows.
    saveButton->setAutoDefault(true);
    cancelButton->setAutoDefault(true);

    connect(saveButton, &QPushButton::clicked, this, &ServerDialog::save);
    connect(cancelButton, &QPushButton::clicked, this, &ServerDialog::cancel);

    setTabOrder(mailEdit, cancelButton);
    setTabOrder(cancelButton, saveButton);
    setTabOrder(saveButton, apopBox);
    setTabOrder(apopBox, pop3Edit);
    setTabOrder(pop3Edit, smtpEdit);
    mailEdit->setFocus();
}

void ServerDialog::onLoad() {
    centreOnScreen(m_centredMonitor);
    makeTopmost(true);
    const ServerSettings& shown = m_inUse;
    smtpEdit->setText(shown.smtpServer);
    pop3Edit->setText(shown.pop3Server);
    mailEdit->setText(shown.mailAddress);
    // A hand-edited flag outside 0 to 2 still means APOP: the box shows it ticked.
    if (shown.apopFlag == 2) {
        apopBox->setTristate(true);
        apopBox->setCheckState(Qt::PartiallyChecked);
    } else {
        apopBox->setCheckState(shown.apopFlag != 0 ? Qt::Checked : Qt::Unchecked);
    }
}

void ServerDialog::save() {
    QStringList bad;
    if (!ProfileFile::canStore(smtpEdit->text()))
        bad.append(QStringLiteral("SMTPサーバー名"));
    if (!ProfileFile::canStore(pop3Edit->text()))
        bad.append(QStringLiteral("POP3サーバー名"));
    if (!ProfileFile::canStore(mailEdit->text()))
        bad.append(QStringLiteral("メールアドレス"));
    if (!bad.isEmpty()) {
        ErrorMessages::show(m_boxes, ErrorMessages::unencodable(bad));
        return;
    }
    ServerSettings edited;
    edited.smtpServer = smtpEdit->text();
    edited.pop3Server = pop3Edit->text();
    edited.mailAddress = mailEdit->text();
    switch (apopBox->checkState()) {
    case Qt::Unchecked:
        edited.apopFlag = 0;
        break;
    case Qt::Checked:
        edited.apopFlag = 1;
        break;
    case Qt::PartiallyChecked:
        edited.apopFlag = 2;
        break;
    }
    // The new values are in use only once they are saved, so that 中止 after a failed save
    // leaves those of before.
    if (saveServerSettings(edited) != SaveResult::Saved) {
        // The dialog stays open, with what was typed, to try again.
        ErrorMessages::show(m_boxes, ErrorMessages::notWritten(QStringLiteral("サーバーの設定"),
                                                               serverSettingsFilePath()));
        return;
    }
    m_inUse = edited;
    unload();
}

void ServerDialog::cancel() {
    unload();
}

void ServerDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancelButton->click();
        return;
    }
    ProgramWindow::keyPressEvent(event);
}
