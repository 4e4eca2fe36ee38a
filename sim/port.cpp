// The pseudo-terminal, the capture file, the link, and replies as the faults shape them.
#include "sim/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/clock.h"

namespace {

// Longest clock wait between two looks at the stop flag.
constexpr uint32_t kPauseSliceMs = 50;
// A split reply: clock ms between pieces, and how long a piece may sit unread (real ms).
constexpr uint32_t kSplitPauseMs = 20;
constexpr int kSplitTakenBoundMs = 500;
// Random noise lines: how many per reply and how long each may be.
constexpr int kNoiseLinesMax = 3;
constexpr int kNoiseLineBytesMax = 16;
constexpr unsigned kNoiseSeed = 20240601;

// Says what failed and why; false, for the caller to return.
bool failed(const char* what) {
    std::fprintf(stderr, "v3sim: %s: %s\n", what, std::strerror(errno));
    return false;
}

bool writeAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    size_t n = bytes.size();
    while (n > 0) {
        ssize_t put = ::write(fd, p, n);
        if (put > 0) {
            p += put;
            n -= size_t(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else if (put < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            poll(&pfd, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

void makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tcsetattr(fd, TCSANOW, &tio);
}

// Without the watch the device still works; only a tool killed while it held the port then
// leaves it exclusive until the device restarts, and replies go to a closed port.
void openWatch(Port& port) {
    port.openWatch.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!port.openWatch.valid() ||
        inotify_add_watch(port.openWatch.get(), port.slavePath.c_str(),
                          IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        failed("inotify");
        port.openWatch.reset();
    }
}

void toolGone(Port& port) {
    ioctl(port.slave.get(), TIOCNXCL);
    tcflush(port.slave.get(), TCIFLUSH);
    simLog(*port.options, false, "the port was closed");
}

bool openPty(Port& port) {
    port.master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!port.master.valid()) return failed("posix_openpt");
    if (grantpt(port.master.get()) != 0) return failed("grantpt");
    if (unlockpt(port.master.get()) != 0) return failed("unlockpt");
    const char* name = ptsname(port.master.get());
    if (!name) return failed("ptsname");
    port.slavePath = name;
    port.slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!port.slave.valid()) return failed(name);
    // A raw line until the tool sets its own mode: no echo, no CR/LF translation.
    makeRaw(port.slave.get());
    openWatch(port);
    return true;
}

bool openCapture(Port& port, const std::string& path) {
    if (path.empty()) return true;
    port.capture.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!port.capture.valid()) return failed(path.c_str());
    return true;
}

// Lines no wait accepts: lone LFs, a busy line, and for a prefix wait the first half of the
// awaited text, which must not pass for the whole.
std::string noiseLines(Step step, const std::string& reply) {
    std::string noise = "\n\nBUSY\r\n";
    if (step != Step::Fwe && step != Step::Sb) noise += reply.substr(0, reply.size() / 2) + "\r\n";
    return noise;
}

// Random lines of random bytes. A line never begins with STX, NUL, CR or LF, so it can never
// pass for a framed reply; inside it anything but CR goes, NUL, 0xFF, STX and ETX included.
std::string noiseBytes(const Faults& faults) {
    static std::minstd_rand random(faults.noiseSeed != 0 ? faults.noiseSeed : kNoiseSeed);
    static const unsigned char kNasty[] = {0x00, 0xFF, 0x02, 0x03, 0x0A, 0x1A, 0x80, 0x7F};
    std::string noise = "\r";
    int lines = 1 + int(random() % kNoiseLinesMax);
    for (int l = 0; l < lines; ++l) {
        noise += char('!' + random() % 90);
        int len = int(random() % kNoiseLineBytesMax);
        for (int i = 0; i < len; ++i) {
            unsigned char c = random() % 2 ? kNasty[random() % sizeof kNasty]
                                           : static_cast<unsigned char>(random() % 256);
            if (c == '\r') c = 0xFF;
            noise += char(c);
        }
        noise += '\r';
    }
    // Spoilt: the last line has no CR and runs into the reply that follows.
    if (faults.noiseSpoil && random() % 4 == 0) noise.pop_back();
    return noise;
}

// The reply in three pieces, each read by the tool before the next one goes out.
void sendSplit(Port& port, const std::string& line) {
    size_t half = line.size() / 2;
    const std::string pieces[] = {line.substr(0, half), line.substr(half, line.size() - 1 - half),
                                  line.substr(line.size() - 1)};
    bool first = true;
    for (const std::string& piece : pieces) {
        if (piece.empty()) continue;
        if (!first) pauseMs(kSplitPauseMs);
        first = false;
        writeAll(port.master.get(), piece);
        portAwaitTaken(port, kSplitTakenBoundMs);
    }
}

void sendShaped(Port& port, Step step, const std::string& reply) {
    const Faults& faults = portFaults(port);
    std::string line = reply + '\r';
    if (faults.noise) writeAll(port.master.get(), noiseLines(step, reply));
    if (faults.noiseBytes) writeAll(port.master.get(), noiseBytes(faults));
    if (faults.split)
        sendSplit(port, line);
    else
        writeAll(port.master.get(), line);
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int Fd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Link::make(const std::string& path, const std::string& target) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "v3sim: %s exists and is no symlink; not replaced\n",
                         path.c_str());
            return false;
        }
        if (unlink(path.c_str()) != 0) return failed(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) return failed(path.c_str());
    path_ = path;
    target_ = target;
    return true;
}

void Link::remove() {
    if (path_.empty()) return;
    char buf[4096];
    ssize_t n = readlink(path_.c_str(), buf, sizeof buf - 1);
    // Another device may have taken the name over meanwhile; its link stays.
    if (n >= 0 && std::string(buf, size_t(n)) == target_) unlink(path_.c_str());
    path_.clear();
}

bool portOpen(Port& port, const SimOptions& options) {
    port.options = &options;
    if (!openPty(port) || !openCapture(port, options.capturePath)) return false;
    if (!options.linkPath.empty() && !port.link.make(options.linkPath, port.slavePath))
        return false;
    return true;
}

long portRead(Port& port, char* buf, size_t n) {
    for (;;) {
        ssize_t got = ::read(port.master.get(), buf, n);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return 0;
        if (got <= 0) return -1;
        return long(got);
    }
}

void portWatch(Port& port) {
    if (!port.openWatch.valid()) return;
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(port.openWatch.get(), buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                port.toolOpens = std::max(1, port.toolOpens);  // lost count: assume it's there
            } else if (event->mask & IN_OPEN) {
                ++port.toolOpens;
            } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                port.toolOpens = std::max(0, port.toolOpens - 1);
                if (port.toolOpens == 0) toolGone(port);
            }
        }
    }
}

bool portToolPresent(Port& port) {
    portWatch(port);
    return !port.openWatch.valid() || port.toolOpens > 0;
}

void portCapture(Port& port, const char* data, size_t n) {
    if (port.capture.valid() && n > 0) writeAll(port.capture.get(), std::string(data, n));
}

void portHoldTool(Port& port, bool hold) {
    // Output flow of the slave: the tool's writes wait while it is off.
    if (tcflow(port.slave.get(), hold ? TCOOFF : TCOON) != 0) failed("tcflow");
}

bool portAnswer(Port& port, Step step, const std::string& reply) {
    const SimOptions& o = *port.options;
    const Faults& faults = portFaults(port);
    size_t i = size_t(step);
    if (faults.hangupAt[i]) {
        portHangup(port);
        return false;
    }
    if (faults.silent[i]) {
        simLog(o, false, std::string("(silent at ") + stepName(step) + ")");
        return false;
    }
    uint32_t delay = (step == Step::Erase ? o.eraseMs : 0) + faults.lateMs[i];
    if (delay > 0 && !pauseMs(delay)) return false;
    if (!portToolPresent(port)) {
        simLog(o, false, "port closed; dropped " + printable(reply + '\r'));
        return false;
    }
    sendShaped(port, step, reply);
    simLog(o, false, "-> " + printable(reply + '\r'));
    return true;
}

void portSendLine(Port& port, const std::string& line) {
    if (!portToolPresent(port)) return;
    writeAll(port.master.get(), line + '\r');
    simLog(*port.options, false, "-> " + printable(line + '\r'));
}

void portHangup(Port& port) {
    port.master.reset();
    simLog(*port.options, true, "line hung up");
}

void portAwaitTaken(Port& port, int boundMs) {
    // The bytes reach the slave's queue a moment after the write; look only after that.
    realSleepMs(2);
    for (int waited = 0; waited < boundMs; ++waited) {
        int queued = 0;
        if (ioctl(port.slave.get(), FIONREAD, &queued) != 0 || queued == 0) return;
        realSleepMs(1);
    }
}

bool pauseMs(uint32_t ms) {
    uint32_t start = tickCount();
    for (;;) {
        if (g_stopRequested.load()) return false;
        uint32_t elapsed = tickCount() - start;
        if (elapsed >= ms) return true;
        sleepMs(std::min(ms - elapsed, kPauseSliceMs));
    }
}

void realSleepMs(int ms) {
    poll(nullptr, 0, ms);
}

std::string printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char buf[8];
        if (c == 0x02)
            out += "<STX>";
        else if (c == 0x03)
            out += "<ETX>";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

void simLog(const SimOptions& options, bool always, const std::string& text) {
    if (!always && !options.verbose) return;
    std::fprintf(stderr, "v3sim: %s\n", text.c_str());
}

const Faults& portFaults(const Port& port) {
    static const Faults kNone{};
    return port.faultsSpent ? kNone : port.options->faults;
}
