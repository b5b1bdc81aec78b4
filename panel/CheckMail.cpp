#include "CheckMail.h"

#include "AccountDialog.h"
#include "BackgroundWork.h"
#include "ControlPanel.h"
#include "CutAtNul.h"
#include "DataFiles.h"
#include "MailApi.h"
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

void checkMail(const ServerSettings& servers, const CheckWindows& windows) {
    // The window thread runs its events while the library waits; a second check must not nest.
    static bool running = false;
    if (running)
        return;
    running = true;
    if (windows.manualCheck)
        windows.manualCheck(true);
    BusyPointer busy;
    MailApi& mail = mailApi();

    QString buffers[4];
    qint32 count = 0;

    if (!servers.pop3Server.isEmpty()) {
        // The library's calls wait on the server; they run off the window thread so that the
        // characters keep answering (a right click ends the program) whatever the server does.
        qint32 handle = -1;
        runInBackground([&, server = servers.pop3Server] {
            handle = mail.connect(server);
            if (handle == -1)
                mail.copyLastError(buffers[0]);
        });
        if (handle == -1) {
            // Not reaching the server is a failure, not an empty mailbox.
            showError(windows.boxes, busy, cutAtNul(buffers[0]), MessageBoxes::Icon::Critical);
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
                runInBackground([&] { mail.close(handle); });
            } else {
                const qint32 apop = servers.apopFlag != 0 ? -1 : 0;
                runInBackground([&, id, pass] {
                    count = mail.authenticate(handle, id, pass, apop);
                    for (qint32 n = 1; n <= count; ++n) {
                        mail.fetchHeader(handle, n, buffers);
                        mail.mailSize(handle, n);
                        // The library streams the message; nothing here grows with its size.
                        QString body;
                        mail.fetchMail(handle, n, buffers, body);
                    }
                    if (count < 0)
                        mail.copyLastError(buffers[0]);
                });
                if (count < 0)
                    showError(windows.boxes, busy, cutAtNul(buffers[0]),
                              MessageBoxes::Icon::NoIcon);
                runInBackground([&] { mail.close(handle); });
            }
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
