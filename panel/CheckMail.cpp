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

void showError(MessageBoxes& boxes, BusyPointer& busy, const QString& text,
               MessageBoxes::Icon icon) {
    busy.unset();
    boxes.tell(text, icon, QStringLiteral("エラー"));
    busy.set();
}

} // namespace

void reportMailCount(qint32 count, const CheckWindows& windows) {
    NewMailNotice* notice = windows.notice();
    notice->showOrRaise();
    // A failure has had its error box; the notice counts messages, and there is none to count.
    notice->countText->setText(QString::number(qMax(0, count)));
    if (count < 1) {
        notice->messageText->setText(QStringLiteral("新着メールはありませんでした。"));
    } else {
        notice->messageText->setText(QStringLiteral("新着メールが有ります。"));
        windows.panel()->bark();
    }
}

void checkMail(MailSession& mail, const ServerSettings& servers, const CheckWindows& windows) {
    // The window thread runs its events while the session waits; a second check must not nest.
    static bool running = false;
    if (running)
        return;
    running = true;
    if (windows.manualCheck)
        windows.manualCheck(true);
    BusyPointer busy;

    qint32 count = 0;

    if (!servers.pop3Server.isEmpty()) {
        // The session's calls wait on the server; they run off the window thread so that the
        // characters keep answering (a right click ends the program) whatever the server does.
        MailResult<> opened;
        runInBackground([&, server = servers.pop3Server] { opened = mail.open(server); });
        if (!opened.ok()) {
            // Not reaching the server is a failure, not an empty mailbox.
            showError(windows.boxes, busy, cutAtNul(opened.error), MessageBoxes::Icon::Critical);
            count = -1;
        } else {
            // The account lives for this check only.
            const QString id = readAccountValue(QStringLiteral("NAME"));
            const QString pass = readAccountValue(QStringLiteral("NAME2"));
            // What was typed into the account dialog without saving gives way to the stored
            // account.
            AccountDialog* account = windows.account();
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
                    showError(windows.boxes, busy, cutAtNul(login.error),
                              MessageBoxes::Icon::NoIcon);
            }
            runInBackground([&] { mail.close(); });
        }
    } else {
        // No server is no answer at all, not an empty mailbox: ask for one.
        windows.server()->showOrRaise();
    }

    busy.unset();
    reportMailCount(count, windows);

    if (windows.hangsUpAfterCheck())
        windows.panel()->hangUp();
    running = false;
    if (windows.manualCheck)
        windows.manualCheck(false);
}
