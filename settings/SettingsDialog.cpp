#include "SettingsDialog.h"

#include "AccountDialog.h"
#include "DataFiles.h"
#include "DialogLook.h"
#include "ErrorMessages.h"
#include "ServerDialog.h"
#include "Twips.h"
#include "WindowRegistry.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

using DialogLook::place;

SettingsDialog::SettingsDialog(QWidget* parent) : ProgramWindow(parent) {
    DialogLook::setUpDialog(this, QStringLiteral("設定"), 3120, 1065);
    centreOnScreen();

    accountButton = new QPushButton(QStringLiteral("ID/PASS"), this);
    accountButton->setObjectName(QStringLiteral("accountButton"));
    place(accountButton, 120, 120, 1455, 375);
    DialogLook::setBackColour(accountButton, 0x000080FF);
    serverButton = new QPushButton(QStringLiteral("POPサーバー"), this);
    serverButton->setObjectName(QStringLiteral("serverButton"));
    place(serverButton, 1560, 120, 1455, 375);
    DialogLook::setBackColour(serverButton, 0x00FF8080);
    for (QPushButton* b : {accountButton, serverButton})
        b->setAutoDefault(true);

    hangUpBox = new QCheckBox(QStringLiteral("Check1"), this);
    hangUpBox->setObjectName(QStringLiteral("hangUpBox"));
    place(hangUpBox, 120, 600, 255, 255);
    DialogLook::setBackColour(hangUpBox, 0x00C0C0C0);

    hangUpLabel = new QLabel(QStringLiteral("新着がなければ接続を切断する。"), this);
    hangUpLabel->setObjectName(QStringLiteral("hangUpLabel"));
    place(hangUpLabel, 480, 645, 2535, 255);
    hangUpLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogLook::setTextColour(hangUpLabel, 0x00FF0000);
    DialogLook::fitText(hangUpLabel);

    connect(accountButton, &QPushButton::clicked, this, &SettingsDialog::editAccount);
    connect(serverButton, &QPushButton::clicked, this, &SettingsDialog::editServer);

    setTabOrder(hangUpBox, accountButton);
    setTabOrder(accountButton, serverButton);
    hangUpBox->setFocus();
}

bool SettingsDialog::hangsUpAfterCheck() {
    if (const SettingsDialog* dialog = WindowRegistry::loaded<SettingsDialog>())
        return dialog->hangUpBox->isChecked();
    // A load's box starts clear, and only a stored 1 ticks it.
    return readHangUpFlag() == 1;
}

void SettingsDialog::onLoad() {
    applyHangUpFlagTo(hangUpBox);
}

void SettingsDialog::onUnload() {
    // The unload goes on whatever happens: the dialog has no other way to close.
    if (writeHangUpFlag(hangUpBox->checkState() == Qt::Checked) == ProfileFile::WriteStatus::Failed)
        ErrorMessages::show(
            ErrorMessages::notWritten(QStringLiteral("切断の設定"), hangUpFilePath()));
}

void SettingsDialog::editAccount() {
    win<AccountDialog>()->Show();
}

void SettingsDialog::editServer() {
    win<ServerDialog>()->Show();
}

void SettingsDialog::paintEvent(QPaintEvent* event) {
    ProgramWindow::paintEvent(event);
    // Line1: a blue rule across the whole dialog.
    QPainter p(this);
    p.setPen(QPen(Twips::oleColor(0x00FF0000), 1));
    const int y = Twips::toPixelsY(960);
    p.drawLine(0, y, width(), y);
}
