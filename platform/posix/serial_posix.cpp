// Serial ports on POSIX: termios, flock and lock files for exclusive use, poll for the wait
// between reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <glob.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/serial_lock.h"

namespace {

thread_local int t_lastError = 0;
std::atomic<int> g_failOpens{0};

int fdOf(const SerialPort& port) { return int(port.native()); }

speed_t speedConstant(uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// "COMn" (any letter case) -> n, or 0 when the name is no such name.
unsigned comNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 8) return 0;
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return 0;
    unsigned n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        n = n * 10 + unsigned(name[i] - '0');
    }
    return n;
}

// The first link in `folder` (by name) that resolves to `target`; empty when none does.
std::string linkTo(const std::filesystem::path& folder, const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links)
        if (fs::canonical(link, ec) == target && !ec) return link.string();
    return std::string();
}

// A lock taken for a device not open yet: given back unless the open descriptor takes it over.
class LockClaim {
public:
    explicit LockClaim(int claim) : claim_(claim) {}
    ~LockClaim() { serialLockDrop(claim_); }
    LockClaim(const LockClaim&) = delete;
    LockClaim& operator=(const LockClaim&) = delete;
    void bind(int fd) {
        serialLockBind(claim_, fd);
        claim_ = -1;
    }

private:
    int claim_;
};

}  // namespace

void serialCloseNative(intptr_t handle) {
    const int fd = int(handle);
    serialLockRelease(fd);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    ::close(fd);
}

std::string serialDeviceIdentity(const std::string& devicePath, const std::string& linkRoot) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(devicePath, ec);
    if (ec) return devicePath;
    std::string link = linkTo(std::filesystem::path(linkRoot) / "by-id", real);
    if (link.empty()) link = linkTo(std::filesystem::path(linkRoot) / "by-path", real);
    return link.empty() ? real.string() : real.string() + " (" + link + ")";
}

namespace {
// COM names looked for in the list of ports present; of those that default to /dev/ttyS, only
// the first few.
constexpr int kMaxListedCom = 256;
constexpr int kListedDefaultComs = 4;
// Device names given without their folder, as the system lists them under /dev.
constexpr std::string_view kBareDevicePrefix = "tty";
}  // namespace

// A name that is no COM name: a path (relative ones from the working directory), or a bare
// "tty..." that the system keeps under /dev; anything else stands for no device.
std::string devicePathNamed(const std::string& name) {
    if (name.starts_with('/')) return name;
    if (name.find('/') != std::string::npos) {
        const std::string dir = workingDirectory(PATH_MAX);
        return dir.empty() ? std::string() : dir + "/" + name;
    }
    if (name.starts_with(kBareDevicePrefix) && name.size() > kBareDevicePrefix.size())
        return "/dev/" + name;
    return std::string();
}

std::string portDeviceName(const std::string& portName) {
    std::string name = portName;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    unsigned n = comNumber(name);
    if (n == 0) return devicePathNamed(portName);

    std::ifstream ini("COMPORTS.INI");
    std::string line;
    while (std::getline(ini, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trimmed(line.substr(0, eq));
        std::string value = trimmed(line.substr(eq + 1));
        if (comNumber(key) == n && !value.empty() && value[0] == '/') return value;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::vector<std::string> serialPortsPresent() {
    auto isCharDevice = [](const std::string& p) {
        struct stat st {};
        return stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    };
    std::vector<std::string> out;
    for (int n = 1; n <= kMaxListedCom; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::string device = portDeviceName(name);
        // Every machine has a row of /dev/ttyS nodes, most with no port behind them.
        if (n > kListedDefaultComs && device == "/dev/ttyS" + std::to_string(n - 1)) continue;
        if (isCharDevice(device)) out.push_back(name);
    }
    for (const char* pattern : {"/dev/serial/by-path/*", "/dev/ttyUSB*", "/dev/ttyACM*"}) {
        glob_t g{};
        if (glob(pattern, 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) out.emplace_back(g.gl_pathv[i]);
        }
        globfree(&g);
    }
    return out;
}

void failNextSerialOpens(int count) { g_failOpens = count; }

int serialOpen(const std::string& device, SerialPort& out) {
    out.close();
    if (g_failOpens.load() > 0) {
        --g_failOpens;
        return EBUSY;
    }
    if (device.empty()) return ENOENT;
    // The lock file first: a port another program holds is not even opened, since the open
    // alone raises DTR and may reset the device at the other end.
    int claim = -1;
    if (int err = serialLockAcquire(device, claim); err != 0) return err;
    LockClaim lock(claim);
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    SerialPort port;
    port.adopt(fd);
    lock.bind(fd);  // from here on the lock goes when the port closes
    // Exclusive use: flock keeps out every other opener that asks, TIOCEXCL the ones that
    // don't. Ports that don't know TIOCEXCL are fine.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) return errno;
    // Blocking writes from here on; reads still never wait (VMIN = VTIME = 0).
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
    out = std::move(port);
    return 0;
}

bool serialSetRaw8N1(SerialPort& port, uint32_t baud) {
    termios tio{};
    if (tcgetattr(fdOf(port), &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    speed_t speed = speedConstant(baud);
    if (speed != B0) {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    return tcsetattr(fdOf(port), TCSANOW, &tio) == 0;
}

bool serialSetBaud(SerialPort& port, uint32_t baud) {
    termios tio{};
    speed_t speed = speedConstant(baud);
    if (speed == B0 || tcgetattr(fdOf(port), &tio) != 0) return false;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fdOf(port), TCSANOW, &tio) == 0;
}

int serialRead(SerialPort& port, void* buf, size_t n) {
    for (;;) {
        ssize_t got = ::read(fdOf(port), buf, n);
        if (got >= 0) {
            traceBytes("rx", buf, size_t(got));
            return int(got);
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        t_lastError = errno;
        return -1;
    }
}

bool serialWrite(SerialPort& port, const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    traceBytes("tx", data, n);
    while (n > 0) {
        ssize_t put = ::write(fdOf(port), p, n);
        if (put > 0) {
            p += put;
            n -= size_t(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fdOf(port), POLLOUT, 0};
            poll(&pfd, 1, 100);
            continue;
        }
        t_lastError = put < 0 ? errno : EIO;
        return false;
    }
    return true;
}

WaitResult serialWaitReadable(SerialPort& port, uint32_t ms) {
    const ClockHooks& clock = clockHooks();
    uint64_t us = clock.realWaitUs(ms);
    timespec ts{time_t(us / 1000000u), long(us % 1000000u) * 1000};
    pollfd pfd{fdOf(port), POLLIN, 0};
    int rc = ppoll(&pfd, 1, &ts, nullptr);
    if (rc < 0) {
        if (errno == EINTR) return WaitResult::Timeout;
        t_lastError = errno;
        return WaitResult::Failed;
    }
    // A hung-up line reads as "nothing arrived" for ever; only poll tells.
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        t_lastError = EIO;
        return WaitResult::Failed;
    }
    if (rc == 0) {
        clock.waited(ms);
        return WaitResult::Timeout;
    }
    return WaitResult::Readable;
}

int serialLastError() { return t_lastError; }

std::string systemErrorText(int code) {
    char buf[256] = {};
    const char* text = strerror_r(code, buf, sizeof buf);
    return text && *text ? std::string(text) : "Error " + std::to_string(code);
}
