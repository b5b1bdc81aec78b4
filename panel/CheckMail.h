#pragma once
// The panel's mail check: log in with the stored account, fetch every waiting message, report the
// count in the notice, make the companion bark when mail waits, and hang up afterwards when asked.

#include <QtGlobal>
#include <functional>

class MailSession;
struct ServerSettings;

// mail: the session the check's calls go to, on the background thread. servers: the settings in
// use, read as the check goes (the server at the start, APOP at the login). The account is read
// from the account file for this check alone.
void checkMail(MailSession& mail, const ServerSettings& servers);

// How a check reports: the notice with the count, and when mail waits the companion's bark.
void reportMailCount(qint32 count);

// Told when a check by hand begins (true) and when it has ended (false), so that the automatic
// check keeps out of its way.
void setManualCheckObserver(std::function<void(bool running)> observer);
