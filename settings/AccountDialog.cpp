#include "AccountDialog.h"

#include "DataFiles.h"
#include "DialogLook.h"
#include "ErrorMessages.h"
#include "PasswordStarStyle.h"
#include "ProfileFile.h"
#include "SharedSettings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using DialogLook::place;

AccountDialog::AccountDialog(QWidget* parent) : ProgramWindow(parent) {
    DialogLook::setUpDialog(this, QStringLiteral("ID,PASS"), 2850, 1770);

    Label1 = new QLabel(QStringLiteral("ID"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 120, 180, 675, 255);
    Label2[0] = new QLabel(QStringLiteral("Password"), this);
    Label2[0]->setObjectName(QStringLiteral("Label2(0)"));
    place(Label2[0], 120, 600, 795, 255);
    Label2[1] = new QLabel(QStringLiteral("IDパスワードを保存する"), this);
    Label2[1]->setObjectName(QStringLiteral("Label2(1)"));
    place(Label2[1], 780, 1020, 1875, 255);
    DialogLook::setTextColour(Label2[1], 0x00FF0000);
    for (QLabel* l : {Label1, Label2[0], Label2[1]}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        DialogLook::fitText(l);
    }

    IdText = new QLineEdit(this);
    IdText->setObjectName(QStringLiteral("IdText"));
    place(IdText, 960, 120, 1632, 264);
    PassText = new QLineEdit(this);
    PassText->setObjectName(QStringLiteral("PassText"));
    place(PassText, 960, 600, 1632, 264);
    PassText->setEchoMode(QLineEdit::Password);
    PassText->setStyle(new PasswordStarStyle(PassText));

    // Only as wide as the box: its caption "Check1" never shows; Label2(1) stands beside it.
    Check1 = new QCheckBox(QStringLiteral("Check1"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    place(Check1, 420, 1020, 255, 255);

    OKCommand = new QPushButton(QStringLiteral("OK"), this);
    OKCommand->setObjectName(QStringLiteral("OKCommand"));
    place(OKCommand, 900, 1380, 852, 312);
    OKCommand->setDefault(true);
    CancelCommand = new QPushButton(QStringLiteral("Cancel"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    place(CancelCommand, 1860, 1380, 852, 312);
    // Enter presses the button that has the focus, as on Windows.
    OKCommand->setAutoDefault(true);
    CancelCommand->setAutoDefault(true);

    connect(OKCommand, &QPushButton::clicked, this, &AccountDialog::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &AccountDialog::CancelCommand_Click);

    setTabOrder(Check1, CancelCommand);
    setTabOrder(CancelCommand, OKCommand);
    setTabOrder(OKCommand, PassText);
    setTabOrder(PassText, IdText);
    Check1->setFocus();
}

void AccountDialog::Form_Load() {
    IdText->setText(ReadAccountValue(QStringLiteral("NAME")));
    PassText->setText(ReadAccountValue(QStringLiteral("NAME2")));
}

void AccountDialog::OKCommand_Click() {
    const bool save = Check1->checkState() == Qt::Checked;
    if (save) {
        QStringList bad;
        if (!ProfileFile::canStore(IdText->text()))
            bad.append(QStringLiteral("ID"));
        if (!ProfileFile::canStore(PassText->text()))
            bad.append(QStringLiteral("Password"));
        if (!bad.isEmpty()) {
            ErrorMessages::show(ErrorMessages::unencodable(bad));
            return;
        }
    }
    UserId = IdText->text();
    UserPass = PassText->text();
    switch (WriteAccount(save, IdText->text(), PassText->text())) {
    case ProfileFile::WriteStatus::Written:
    case ProfileFile::WriteStatus::Unencodable:
        break;
    case ProfileFile::WriteStatus::FolderMissing:
        // Nothing is stored, and the next check asks again; only a save the user asked for is
        // worth a word.
        if (save)
            ErrorMessages::show(ErrorMessages::dataFolderMissing(QStringLiteral("IDとパスワード"),
                                                                 dataFolderPath()));
        break;
    case ProfileFile::WriteStatus::Failed:
        if (save) {
            // The dialog stays open to try again.
            ErrorMessages::show(
                ErrorMessages::notWritten(QStringLiteral("IDとパスワード"), accountFilePath()));
            return;
        }
        // Only the "don't save" choice was lost: nothing holds the dialog open.
        ErrorMessages::show(ErrorMessages::choiceNotRecorded(accountFilePath()));
        break;
    }
    Unload();
}

void AccountDialog::CancelCommand_Click() {
    Unload();
}

void AccountDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & ~Qt::KeypadModifier)
            break;
        OKCommand->click();
        return;
    case Qt::Key_Escape:
        CancelCommand->click();
        return;
    default:
        break;
    }
    ProgramWindow::keyPressEvent(event);
}
