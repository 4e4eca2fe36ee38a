// zemtabulo-cli ports: the serial devices present, the COMn names that reach them, and who
// holds them.
#include <glob.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "platform/serial.h"
#include "platform/serial_lock.h"

namespace {

std::vector<std::string> globPaths(const char* pattern) {
    std::vector<std::string> out;
    glob_t g{};
    if (glob(pattern, 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) out.emplace_back(g.gl_pathv[i]);
    }
    globfree(&g);
    return out;
}

std::string realPath(const std::string& p) {
    char buf[PATH_MAX];
    return realpath(p.c_str(), buf) ? std::string(buf) : p;
}

bool isCharDevice(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// COM names are looked for up to this number.
constexpr int kMaxComNumber = 256;

}  // namespace

int cliPorts() {
    // Device -> its by-id names (the adapter) and by-path names (the hub socket it is in).
    std::map<std::string, std::vector<std::string>> devices;
    for (const char* pattern : {"/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyAMA*"}) {
        for (const std::string& p : globPaths(pattern))
            if (isCharDevice(p)) devices[p];
    }
    for (const char* pattern : {"/dev/serial/by-id/*", "/dev/serial/by-path/*"}) {
        for (const std::string& link : globPaths(pattern)) devices[realPath(link)].push_back(link);
    }

    // Device -> the COM names that resolve to it (COMPORTS.INI first, else the default map).
    std::map<std::string, std::vector<std::string>> comNames;
    for (int n = 1; n <= kMaxComNumber; ++n) {
        std::string name = "COM" + std::to_string(n);
        std::string device = realPath(portDeviceName(name));
        if (devices.count(device) || !device.starts_with("/dev/ttyS"))
            comNames[device].push_back(name);
    }
    // Devices of other kinds (a pseudo-terminal) that COMPORTS.INI names are present too.
    for (const auto& [device, names] : comNames) {
        if (isCharDevice(device)) devices[device];
    }

    if (devices.empty()) std::printf("No serial devices found.\n");
    for (const auto& [device, ids] : devices) {
        std::printf("%s", device.c_str());
        auto names = comNames.find(device);
        if (names != comNames.end()) {
            for (const std::string& n : names->second) std::printf("  %s", n.c_str());
        }
        std::printf("\n");
        for (const std::string& id : ids) std::printf("    %s\n", id.c_str());
        const PortOwner owner = serialPortOwner(device);
        if (owner.pid != 0)
            std::printf("    in use by pid %d (%s)\n", owner.pid,
                        owner.program.empty() ? "?" : owner.program.c_str());
    }
    // COM names mapped by COMPORTS.INI to devices that are not present now.
    for (const auto& [device, names] : comNames) {
        if (devices.count(device)) continue;
        for (const std::string& n : names)
            std::printf("%s -> %s (not present)\n", n.c_str(), device.c_str());
    }
    const std::string lockProblem = serialLockProblem();
    if (!lockProblem.empty())
        std::printf("\n%c%s: ports are opened without them, unseen by terminal programs.\n",
                    std::toupper(static_cast<unsigned char>(lockProblem[0])),
                    lockProblem.c_str() + 1);
    const std::string warning = modemManagerWarning();
    if (!warning.empty()) std::printf("\n%s\n", warning.c_str());
    return kExitOk;
}
