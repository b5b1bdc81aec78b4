#pragma once

// Hanging up the machine's dial-up connections: what the panel's "切断" button runs, by hand or
// after a mail check. One implementation per platform, picked by CMake: dialup_nm.cpp asks
// NetworkManager over the system D-Bus, dialup_ras.cpp uses the Windows remote-access calls.
// It lists the active connections, hangs up the dial-up ones in the order listed, ignores every
// failure and returns without waiting for the links to come down. Nothing is reported.

void hangUpDialUpConnections();
