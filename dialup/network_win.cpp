#include "NetworkState.h"

#include <winsock2.h>

#include <iphlpapi.h>

#include <vector>

// Known down only when Windows lists its adapters and none but the loopback one is up: a failed
// listing says nothing, and the check goes ahead.
bool networkKnownDown() {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA)
        return true;
    if (result != NO_ERROR)
        return false;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        if (a->IfType != IF_TYPE_SOFTWARE_LOOPBACK && a->OperStatus == IfOperStatusUp)
            return false;
    }
    return true;
}
