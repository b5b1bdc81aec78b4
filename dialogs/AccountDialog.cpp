#include "AccountDialog.h"

#include "DataFiles.h"
#include "DialogLook.h"
#include "ErrorMessages.h"
#include "PasswordStarStyle.h"
#include "ProfileFile.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using DialogLook::place;

AccountDialog::AccountDialog(MessageBoxes& boxes, QWidget* parent)
    : ProgramWindow(parent), m_boxes(boxes) {
    DialogLook::setUpDialog(this, QStringLiteral("ID,PASS"), 2850, 1770);

    idLabel = new QLabel(QStringLiteral("ID"), this);
    idLabel->setObjectName(QStringLiteral("idLabel"));
    place(idLabel, 120, 180, 675, 255);
    passwordLabel = new QLabel(QStringLiteral("Password"), this);
    passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    place(passwordLabel, 120, 600, 795, 255);
    saveLabel = new QLabel(QStringLiteral("IDパスワードを保存する"), this);
    saveLabel->setObjectName(QStringLiteral("saveLabel"));
    place(saveLabel, 780, 1020, 1875, 255);
    DialogLook::setTextColour(saveLabel, QColor(Qt::blue));
    for (QLabel* l : {idLabel, passwordLabel, saveLabel}) {
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        DialogLook::fitText(l);
    }

    idEdit = new QLineEdit(this);
    idEdit->setObjectName(QStringLiteral("idEdit"));
    place(idEdit, 960, 120, 1632, 264);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    place(passwordEdit, 960, 600, 1632, 264);
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setStyle(new PasswordStarStyle(passwordEdit));

    // Only as wide as the box: its caption "Check1" never shows; the save label stands beside it.
    saveBox = new QCheckBox(QStringLiteral("Check1"), this);
    saveBox->setObjectName(QStringLiteral("saveBox"));
    place(saveBox, 420, 1020, 255, 255);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    place(okButton, 900, 1380, 852, 312);
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    place(cancelButton, 1860, 1380, 852, 312);
    // Enter presses the button that has the focus, as on Windows.
    okButton->setAutoDefault(true);
    cancelButton->setAutoDefault(true);

    connect(okButton, &QPushButton::clicked, this, &AccountDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &AccountDialog::cancel);

    setTabOrder(saveBox, cancelButton);
    setTabOrder(cancelButton, okButton);
    setTabOrder(okButton, passwordEdit);
    setTabOrder(passwordEdit, idEdit);
    saveBox->setFocus();
}

void AccountDialog::onLoad() {
    showAccount(readAccountValue(QStringLiteral("NAME")),
                readAccountValue(QStringLiteral("NAME2")));
}

void AccountDialog::showAccount(const QString& id, const QString& password) {
    idEdit->setText(id);
    passwordEdit->setText(password);
}

bool AccountDialog::hasAccount() const {
    return !idEdit->text().isEmpty() && !passwordEdit->text().isEmpty();
}

void AccountDialog::accept() {
    const bool save = saveBox->checkState() == Qt::Checked;
    if (save) {
        QStringList bad;
        if (!ProfileFile::canStore(idEdit->text()))
            bad.append(QStringLiteral("ID"));
        if (!ProfileFile::canStore(passwordEdit->text()))
            bad.append(QStringLiteral("Password"));
        if (!bad.isEmpty()) {
            ErrorMessages::show(m_boxes, ErrorMessages::unencodable(bad));
            return;
        }
    }
    switch (writeAccount(save, idEdit->text(), passwordEdit->text())) {
    case ProfileFile::WriteStatus::Written:
    case ProfileFile::WriteStatus::Unencodable:
        break;
    case ProfileFile::WriteStatus::FolderMissing:
        // Nothing is stored, and the next check asks again; only a save the user asked for is
        // worth a word.
        if (save)
            ErrorMessages::show(m_boxes, ErrorMessages::dataFolderMissing(
                                             QStringLiteral("IDとパスワード"), dataFolderPath()));
        break;
    case ProfileFile::WriteStatus::Failed:
        if (save) {
            // The dialog stays open to try again.
            ErrorMessages::show(m_boxes, ErrorMessages::notWritten(QStringLiteral("IDとパスワード"),
                                                                   accountFilePath()));
            return;
        }
        // Only the "don't save" choice was lost: nothing holds the dialog open.
        ErrorMessages::show(m_boxes, ErrorMessages::choiceNotRecorded(accountFilePath()));
        break;
    }
    unload();
}

void AccountDialog::cancel() {
    unload();
}

void AccountDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & ~Qt::KeypadModifier)
            break;
        okButton->click();
        return;
    case Qt::Key_Escape:
        cancelButton->click();
        return;
    default:
        break;
    }
    ProgramWindow::keyPressEvent(event);
}
