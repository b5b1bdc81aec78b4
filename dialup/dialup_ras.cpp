#include "DialUp.h"

#include <windows.h>

#include <ras.h>

#include <vector>

namespace {

constexpr DWORD MaxConnections = 256;

} // namespace

void hangUpDialUpConnections() {
    // Room for 256 connections; with more, the listing fails for lack of room and nothing is hung
    // up. The records carry the SDK's own size: the old 412-byte layout is a 32-bit one, and a
    // 64-bit RAS refuses it (ERROR_INVALID_SIZE), which would make the button do nothing.
    std::vector<RASCONNA> connections(MaxConnections);
    connections[0].dwSize = sizeof(RASCONNA);
    DWORD bufferSize = DWORD(sizeof(RASCONNA) * MaxConnections);
    DWORD count = 0;
    if (RasEnumConnectionsA(connections.data(), &bufferSize, &count) != 0)
        return;
    // Failures are ignored; the links come down on their own time.
    for (DWORD i = 0; i < count && i < MaxConnections; ++i)
        RasHangUpA(connections[i].hrasconn);
}
