// zemtabulo-cli ports on Windows: the serial ports the system lists under SERIALCOMM, and the
// COM names up to COM256 that open now.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/serial.h"

namespace {

// COM names are tried up to this number.
constexpr int kMaxComNumber = 256;
// Registry value names and data of SERIALCOMM are short device and port names.
constexpr DWORD kRegNameBufSize = 256;

struct RegKey {
    HKEY key = nullptr;
    ~RegKey() {
        if (key) RegCloseKey(key);
    }
};

// Port name -> the driver's device name, as the system's serial drivers announce them.
std::vector<std::pair<std::string, std::string>> announcedPorts() {
    std::vector<std::pair<std::string, std::string>> ports;
    RegKey k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &k.key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[kRegNameBufSize];
        BYTE data[kRegNameBufSize];
        DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
        if (RegEnumValueA(k.key, i, name, &nameLen, nullptr, &type, data, &dataLen) !=
            ERROR_SUCCESS)
            break;
        if (type != REG_SZ) continue;
        data[dataLen] = 0;
        ports.emplace_back(reinterpret_cast<const char*>(data), name);
    }
    return ports;
}

}  // namespace

int cliPorts() {
    std::set<std::string> listed;
    for (const auto& [port, device] : announcedPorts()) {
        std::printf("%s  %s\n", port.c_str(), device.c_str());
        listed.insert(port);
    }
    // Ports that no driver announces but that open all the same (mapped or virtual ones).
    for (int n = 1; n <= kMaxComNumber; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (listed.count(name)) continue;
        SerialPort port;
        const int err = serialOpen(portDeviceName(name), port);
        if (err == 0 || err == ERROR_ACCESS_DENIED) {
            std::printf("%s%s\n", name.c_str(), err ? "  (in use)" : "");
            listed.insert(name);
        }
    }
    if (listed.empty()) std::printf("No serial ports found.\n");
    return kExitOk;
}
