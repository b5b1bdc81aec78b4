#pragma once

// Whether the system says for sure that the machine has no network connection, as the automatic
// mail check asks before it connects. One implementation per platform, picked by CMake:
// network_nm.cpp asks NetworkManager over the system D-Bus (its State: asleep, disconnected,
// disconnecting or still connecting); network_win.cpp asks Windows for its adapters (none but the
// loopback one up). When nobody can say (no NetworkManager, no answer within a
// second), the answer is false and the check goes ahead. It never changes a connection.

bool networkKnownDown();
