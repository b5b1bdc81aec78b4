#include "SettingsDialog.h"

#include "AccountDialog.h"
#include "DataFiles.h"
#include "DialogLook.h"
#include "ErrorMessages.h"
#include "ServerDialog.h"
#include "StartAtLogin.h"
#include "Twips.h"
#include "WindowRegistry.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

using DialogLook::place;

namespace {

std::function<void(int)>& intervalListener() {
    static std::function<void(int)> listener;
    return listener;
}

} // namespace

void SettingsDialog::setIntervalListener(std::function<void(int minutes)> listener) {
    intervalListener() = std::move(listener);
}

SettingsDialog::SettingsDialog(QWidget* parent) : ProgramWindow(parent) {
    // The automatic check's row below the rule makes the dialog taller than its 1065 twips.
    DialogLook::setUpDialog(this, QStringLiteral("設定"), 3120, 1860);
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

    intervalLabel = new QLabel(QStringLiteral("自動チェック"), this);
    place(intervalLabel, 120, 1140, 1335, 255);
    intervalLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogLook::setTextColour(intervalLabel, 0x00FF0000);
    DialogLook::fitText(intervalLabel);
    intervalBox = new QSpinBox(this);
    place(intervalBox, 1560, 1080, 1455, 345);
    intervalBox->setRange(0, kMaxCheckInterval);
    intervalBox->setSuffix(QStringLiteral(" 分ごと"));
    intervalBox->setSpecialValueText(QStringLiteral("しない"));
    intervalBox->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    intervalLabel->setBuddy(intervalBox);
    startAtLoginBox = new QCheckBox(QStringLiteral("ログイン時に起動"), this);
    place(startAtLoginBox, 120, 1500, 2895, 255);
    DialogLook::setTextColour(startAtLoginBox, 0x00FF0000);
    DialogLook::fitText(startAtLoginBox);

    connect(Command1, &QPushButton::clicked, this, &SettingsDialog::editAccount);
    connect(Command2, &QPushButton::clicked, this, &SettingsDialog::editServer);
    connect(intervalBox, &QSpinBox::valueChanged, this, [](int minutes) {
        if (intervalListener())
            intervalListener()(minutes);
    });

    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, intervalBox);
    setTabOrder(intervalBox, startAtLoginBox);
    Check1->setFocus();
}

void SettingsDialog::Form_Load() {
    ApplyHangUpFlagTo(Check1);
    intervalBox->setValue(ReadCheckInterval());
    startAtLoginBox->setChecked(StartAtLogin::isOn());
}

void SettingsDialog::Form_Unload() {
    // The unload goes on whatever happens: the dialog has no other way to close.
    if (WriteHangUpFlag(Check1->checkState() == Qt::Checked) == ProfileFile::WriteStatus::Failed) {
        ErrorMessages::show(
            ErrorMessages::notWritten(QStringLiteral("切断の設定"), hangUpFilePath()));
    } else if (intervalBox->value() != ReadCheckInterval() &&
               WriteCheckInterval(intervalBox->value()) == ProfileFile::WriteStatus::Failed) {
        // Written only when it changed: the file stays as the Windows version left it.
        ErrorMessages::show(
            ErrorMessages::notWritten(QStringLiteral("自動チェックの設定"), hangUpFilePath()));
    }
    const bool startAtLogin = startAtLoginBox->isChecked();
    if (startAtLogin != StartAtLogin::isOn()) {
        // The entry runs this executable in this working folder, where it finds vbmail.ini.
        const bool done =
            startAtLogin
                ? StartAtLogin::turnOn(QCoreApplication::applicationFilePath(), QDir::currentPath())
                : StartAtLogin::turnOff();
        if (!done)
            ErrorMessages::show(ErrorMessages::notWritten(QStringLiteral("ログイン時の起動の設定"),
                                                          StartAtLogin::entryPath()));
    }
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
