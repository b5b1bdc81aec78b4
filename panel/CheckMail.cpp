#include "CheckMail.h"

#include "AccountDialog.h"
#include "BackgroundWork.h"
#include "ControlPanel.h"
#include "CutAtNul.h"
#include "DataFiles.h"
#include "MailSession.h"
#include "MessageBoxes.h"
#include "NewMailNotice.h"
#include "ServerDialog.h"
#include "ServerSettings.h"
#include "SettingsDialog.h"
#include "WindowRegistry.h"

#include <QApplication>
#include <QLineEdit>

namespace {

// The pointer shows that the program is busy while a check runs; message boxes get the normal one.
class BusyPointer {
  public:
    BusyPointer() { set(); }
    ~BusyPointer() { unset(); }
    void set() {
        if (!m_on)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        m_on = true;
    }
    void unset() {
        if (m_on)
            QApplication::restoreOverrideCursor();
        m_on = false;
    }

  private:
    bool m_on = false;
};

void showError(BusyPointer& busy, const QString& text, int style) {
    busy.unset();
    showMessageBox(text, style, QStringLiteral("エラー"));
    busy.set();
}

std::function<void(bool)>& manualCheckObserver() {
    static std::function<void(bool)> observer;
    return observer;
}

} // namespace

void setManualCheckObserver(std::function<void(bool running)> observer) {
    manualCheckObserver() = std::move(observer);
}

void reportMailCount(qint32 count) {
    NewMailNotice* notice = win<NewMailNotice>();
    notice->showOrRaise();
    // A failure has had its error box; the notice counts messages, and there is none to count.
    notice->countText->setText(QString::number(qMax(0, count)));
    if (count < 1) {
        notice->messageText->setText(QStringLiteral("新着メールはありませんでした。"));
    } else {
        notice->messageText->setText(QStringLiteral("新着メールが有ります。"));
        win<ControlPanel>()->bark();
    }
}

void checkMail(MailSession& mail, const ServerSettings& servers) {
    // The window thread runs its events while the session waits; a second check must not nest.
    static bool running = false;
    if (running)
        return;
    running = true;
    if (manualCheckObserver())
        manualCheckObserver()(true);
    BusyPointer busy;

    qint32 count = 0;

    if (!servers.pop3Server.isEmpty()) {
        // The session's calls wait on the server; they run off the window thread so that the
        // characters keep answering (a right click ends the program) whatever the server does.
        MailResult<> opened;
        runInBackground([&, server = servers.pop3Server] { opened = mail.open(server); });
        if (!opened.ok()) {
            // Not reaching the server is a failure, not an empty mailbox.
            showError(busy, cutAtNul(opened.error), MessageBoxStyle::Critical);
            count = -1;
        } else {
            // The account lives for this check only.
            const QString id = readAccountValue(QStringLiteral("NAME"));
            const QString pass = readAccountValue(QStringLiteral("NAME2"));
            // What was typed into the account dialog without saving gives way to the stored
            // account.
            AccountDialog* account = win<AccountDialog>();
            account->showAccount(id, pass);
            if (pass.isEmpty() || id.isEmpty()) {
                account->showOrRaise();
            } else {
                MailResult<qint32> login;
                runInBackground([&, id, pass, apop = servers.apopFlag != 0] {
                    login = mail.login(id, pass, apop);
                    // Every message is fetched; the session streams it, and nothing here grows
                    // with its size.
                    for (qint32 n = 1; login.ok() && n <= *login.value; ++n) {
                        mail.header(n);
                        mail.size(n);
                        mail.fetch(n);
                    }
                });
                count = login.ok() ? *login.value : -1;
                if (!login.ok())
                    showError(busy, cutAtNul(login.error), MessageBoxStyle::OkOnly);
            }
            runInBackground([&] { mail.close(); });
        }
    } else {
        // No server is no answer at all, not an empty mailbox: ask for one.
        win<ServerDialog>()->showOrRaise();
    }

    busy.unset();
    reportMailCount(count);

    if (SettingsDialog::hangsUpAfterCheck())
        win<ControlPanel>()->hangUp();
    running = false;
    if (manualCheckObserver())
        manualCheckObserver()(false);
}
