#pragma once
// The panel's mail check: log in with the stored account, fetch every waiting message, report the
// count in the notice, make the companion bark when mail waits, and hang up afterwards when asked.

struct ServerSettings;

// servers: the settings in use, read as the check goes (the server at the start, APOP at the
// login). The account is read from the account file for this check alone.
void checkMail(const ServerSettings& servers);
