#include <windows.h>

#include "platform/host.h"

namespace {
// DNS host labels are at most 63 bytes; the buffer leaves room for longer names of the system.
constexpr DWORD kHostNameBufSize = 256;
}  // namespace

std::string hostName() {
    char buf[kHostNameBufSize] = {};
    DWORD size = kHostNameBufSize;
    if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size)) return std::string();
    return std::string(buf, size);
}
