#pragma once
// The panel's mail check: log in with the stored account, fetch every waiting message, report the
// count in the notice, make the companion bark when mail waits, and hang up afterwards when asked.

#include <QtGlobal>
#include <functional>

class AccountDialog;
class ControlPanel;
class MailSession;
class MessageBoxes;
class NewMailNotice;
class ServerDialog;
struct ServerSettings;

// The windows a check reports in and asks through, each loaded at its first use, and who hears
// of a check by hand.
struct CheckWindows {
    std::function<NewMailNotice*()> notice;
    std::function<ControlPanel*()> panel;
    std::function<AccountDialog*()> account;
    std::function<ServerDialog*()> server;
    // Whether to hang up after the check; loads no window.
    std::function<bool()> hangsUpAfterCheck;
    MessageBoxes& boxes;
    // Told when a check by hand begins (true) and when it has ended (false), so that the automatic
    // check keeps out of its way.
    std::function<void(bool running)> manualCheck;
};

// mail: the session the check's calls go to, on the background thread. servers: the settings in
// use, read as the check goes (the server at the start, APOP at the login). The account is read
// from the account file for this check alone.
void checkMail(MailSession& mail, const ServerSettings& servers, const CheckWindows& windows);

// How a check reports: the notice with the count, and when mail waits the companion's bark.
void reportMailCount(qint32 count, const CheckWindows& windows);
