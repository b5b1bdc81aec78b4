#pragma once
// The panel's mail check: log in with the stored account, fetch every waiting message, report the
// count in the notice, make the companion bark when mail waits, and hang up afterwards when asked.

void checkMail();
