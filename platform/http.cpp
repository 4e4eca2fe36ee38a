#include "platform/http.h"

#include <cctype>

namespace {

constexpr int kHttpPort = 80, kHttpsPort = 443, kMaxPort = 65535;
// "65535": more digits than this is no port.
constexpr size_t kMaxPortDigits = 5;

bool parsePort(const std::string& digits, int& port) {
    if (digits.empty() || digits.size() > kMaxPortDigits) return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    port = std::stoi(digits);
    return port >= 1 && port <= kMaxPort;
}

}  // namespace

bool parseHttpUrl(const std::string& url, HttpUrl& out) {
    out = HttpUrl();
    const size_t sep = url.find("://");
    if (sep == std::string::npos) return false;
    out.scheme = url.substr(0, sep);
    for (char& c : out.scheme) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (out.scheme != "http" && out.scheme != "https") return false;
    const size_t hostAt = sep + 3;
    const size_t pathAt = std::min(url.find('/', hostAt), url.size());
    out.path = url.substr(pathAt);
    std::string hostPort = url.substr(hostAt, pathAt - hostAt);
    out.port = out.scheme == "https" ? kHttpsPort : kHttpPort;
    size_t colon = std::string::npos;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos) return false;
        out.host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size()) {
            if (hostPort[close + 1] != ':') return false;
            colon = close + 1;
        }
    } else {
        colon = hostPort.rfind(':');
        out.host = hostPort.substr(0, colon);
    }
    if (colon != std::string::npos && !parsePort(hostPort.substr(colon + 1), out.port))
        return false;
    while (!out.path.empty() && out.path.back() == '/') out.path.pop_back();
    return !out.host.empty() && out.host.find_first_of("@ ") == std::string::npos;
}
