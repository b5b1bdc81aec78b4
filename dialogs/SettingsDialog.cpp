#include "SettingsDialog.h"

#include "DataFiles.h"
#include "DialogLook.h"
#include "ErrorMessages.h"
#include "StartAtLogin.h"
#include "Twips.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>

using DialogLook::place;

SettingsDialog::SettingsDialog(Reach reach, QWidget* parent)
    : ProgramWindow(parent), m_reach(std::move(reach)) {
    // The automatic check's row below the rule makes the dialog taller than its 1065 twips.
    DialogLook::setUpDialog(this, QStringLiteral("設定"), 3120, 1860);
    centreOnScreen(m_reach.centredMonitor);

    accountButton = new QPushButton(QStringLiteral("ID/PASS"), this);
    accountButton->setObjectName(QStringLiteral("accountButton"));
    place(accountButton, 120, 120, 1455, 375);
    DialogLook::setBackColour(accountButton, QColor(255, 128, 0));
    serverButton = new QPushButton(QStringLiteral("POPサーバー"), this);
    serverButton->setObjectName(QStringLiteral("serverButton"));
    place(serverButton, 1560, 120, 1455, 375);
    DialogLook::setBackColour(serverButton, QColor(128, 128, 255));
    for (QPushButton* b : {accountButton, serverButton})
        b->setAutoDefault(true);

    hangUpBox = new QCheckBox(QStringLiteral("Check1"), this);
    hangUpBox->setObjectName(QStringLiteral("hangUpBox"));
    place(hangUpBox, 120, 600, 255, 255);
    DialogLook::setBackColour(hangUpBox, QColor(192, 192, 192));

    hangUpLabel = new QLabel(QStringLiteral("新着がなければ接続を切断する。"), this);
    hangUpLabel->setObjectName(QStringLiteral("hangUpLabel"));
    place(hangUpLabel, 480, 645, 2535, 255);
    hangUpLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogLook::setTextColour(hangUpLabel, QColor(Qt::blue));
    DialogLook::fitText(hangUpLabel);

    intervalLabel = new QLabel(QStringLiteral("自動チェック"), this);
    place(intervalLabel, 120, 1140, 1335, 255);
    intervalLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    DialogLook::setTextColour(intervalLabel, QColor(Qt::blue));
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
    DialogLook::setTextColour(startAtLoginBox, QColor(Qt::blue));
    DialogLook::fitText(startAtLoginBox);

    connect(accountButton, &QPushButton::clicked, this, &SettingsDialog::editAccount);
    connect(serverButton, &QPushButton::clicked, this, &SettingsDialog::editServer);
    connect(intervalBox, &QSpinBox::valueChanged, this, [this](int minutes) {
        if (m_reach.intervalChanged)
            m_reach.intervalChanged(minutes);
    });

    setTabOrder(hangUpBox, accountButton);
    setTabOrder(accountButton, serverButton);
    setTabOrder(serverButton, intervalBox);
    setTabOrder(intervalBox, startAtLoginBox);
    hangUpBox->setFocus();
}

bool SettingsDialog::hangsUpAfterCheck(const SettingsDialog* loaded) {
    if (loaded)
        return loaded->hangUpBox->isChecked();
    // A load's box starts clear, and only a stored 1 ticks it.
    return readHangUpFlag() == 1;
}

void SettingsDialog::onLoad() {
    hangUpBox->setChecked(hangUpTickedAfterRead(hangUpBox->isChecked()));
    intervalBox->setValue(readCheckInterval());
    startAtLoginBox->setChecked(StartAtLogin::isOn());
}

void SettingsDialog::onUnload() {
    // The unload goes on whatever happens: the dialog has no other way to close.
    if (writeHangUpFlag(hangUpBox->checkState() == Qt::Checked) ==
        ProfileFile::WriteStatus::Failed) {
        ErrorMessages::show(m_reach.boxes, ErrorMessages::notWritten(QStringLiteral("切断の設定"),
                                                                     hangUpFilePath()));
    } else if (intervalBox->value() != readCheckInterval() &&
               writeCheckInterval(intervalBox->value()) == ProfileFile::WriteStatus::Failed) {
        // Written only when it changed: the file stays as the Windows version left it.
        ErrorMessages::show(
            m_reach.boxes,
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
            ErrorMessages::show(m_reach.boxes,
                                ErrorMessages::notWritten(QStringLiteral("ログイン時の起動の設定"),
                                                          StartAtLogin::entryPath()));
    }
}

void SettingsDialog::editAccount() {
    m_reach.openAccount();
}

void SettingsDialog::editServer() {
    m_reach.openServer();
}

void SettingsDialog::paintEvent(QPaintEvent* event) {
    ProgramWindow::paintEvent(event);
    // Line1: a blue rule across the whole dialog.
    QPainter p(this);
    p.setPen(QPen(QColor(Qt::blue), 1));
    const int y = Twips::toPixelsY(960);
    p.drawLine(0, y, width(), y);
}
