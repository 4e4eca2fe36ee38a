#include <unistd.h>

#include <climits>

#include "platform/host.h"

namespace {
// POSIX names are at most HOST_NAME_MAX bytes; one more for the terminating NUL.
constexpr size_t kHostNameBufSize = HOST_NAME_MAX + 1;
}  // namespace

std::string hostName() {
    char buf[kHostNameBufSize + 1] = {};
    if (::gethostname(buf, kHostNameBufSize) != 0) return std::string();
    return std::string(buf);  // the extra byte keeps a truncated name terminated
}
