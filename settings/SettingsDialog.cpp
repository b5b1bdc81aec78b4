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

    Command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    place(Command1, 120, 120, 1455, 375);
    DialogLook::setBackColour(Command1, 0x000080FF);
    Command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    place(Command2, 1560, 120, 1455, 375);
    DialogLook::setBackColour(Command2, 0x00FF8080);
    for (QPushButton* b : {Command1, Command2})
        b->setAutoDefault(true);

    Check1 = new QCheckBox(QStringLiteral("Check1"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    place(Check1, 120, 600, 255, 255);
    DialogLook::setBackColour(Check1, 0x00C0C0C0);

    Label1 = new QLabel(QStringLiteral("新着がなければ接続を切断する。"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 480, 645, 2535, 255);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogLook::setTextColour(Label1, 0x00FF0000);
    DialogLook::fitText(Label1);

    connect(Command1, &QPushButton::clicked, this, &SettingsDialog::editAccount);
    connect(Command2, &QPushButton::clicked, this, &SettingsDialog::editServer);

    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Command2);
    Check1->setFocus();
}

void SettingsDialog::Form_Load() {
    ApplyHangUpFlagTo(Check1);
}

void SettingsDialog::Form_Unload() {
    // The unload goes on whatever happens: the dialog has no other way to close.
    if (WriteHangUpFlag(Check1->checkState() == Qt::Checked) == ProfileFile::WriteStatus::Failed)
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
