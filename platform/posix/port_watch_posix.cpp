#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/port_watch.h"
#include "platform/serial.h"

namespace {

// Bytes of inotify events read at a time: room for many events with names.
constexpr size_t kEventBufSize = 16 * 1024;
// What changes a folder's entries or the folder itself: a link made or removed, a node added
// by udev, the folder moved or removed.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder of `path`, or its nearest parent that exists now.
std::string nearestFolder(const std::string& path) {
    std::string dir = folderOf(path);
    struct stat st {};
    while (dir != "/" && dir != "." && stat(dir.c_str(), &st) != 0) dir = folderOf(dir);
    return dir;
}

// Each link on the way to the device: a by-id link to ../../ttyUSB0, a link to a link.
std::vector<std::string> pathsTo(const std::string& device) {
    std::vector<std::string> out{device};
    char resolved[PATH_MAX];
    if (realpath(device.c_str(), resolved) && device != resolved) out.emplace_back(resolved);
    return out;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

bool portPresent(const std::string& port) {
    const std::string device = portDeviceName(port);
    struct stat st {};
    return !device.empty() && stat(device.c_str(), &st) == 0;
}

struct PortWatch::Impl {
    std::function<void()> changed;
    Fd inotify{inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
    Fd stopRead{-1}, stopWrite{-1};
    std::mutex lock;
    std::vector<std::string> ports;  // under lock
    std::thread thread;

    // Watches the folders every port's path passes now; a folder made since is watched too.
    void rewatch() {
        std::set<std::string> folders;
        {
            std::lock_guard<std::mutex> g(lock);
            for (const std::string& port : ports)
                for (const std::string& path : pathsTo(portDeviceName(port)))
                    folders.insert(nearestFolder(path));
        }
        // A folder already watched keeps its watch: the call is cheap and idempotent.
        for (const std::string& dir : folders)
            inotify_add_watch(inotify.fd, dir.c_str(), kWatchMask);
    }

    void run() {
        char buf[kEventBufSize];
        pollfd fds[2] = {{inotify.fd, POLLIN, 0}, {stopRead.fd, POLLIN, 0}};
        while (poll(fds, 2, -1) >= 0 || errno == EINTR) {
            if (fds[1].revents) return;
            if (!(fds[0].revents & POLLIN)) continue;
            while (read(inotify.fd, buf, sizeof buf) > 0) {
            }
            rewatch();
            changed();
        }
    }
};

PortWatch::PortWatch(std::function<void()> changed) : impl_(std::make_unique<Impl>()) {
    impl_->changed = std::move(changed);
    int pipeFds[2];
    if (impl_->inotify.fd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) return;
    impl_->stopRead.fd = pipeFds[0];
    impl_->stopWrite.fd = pipeFds[1];
    Impl* impl = impl_.get();
    impl_->thread = std::thread([impl] { impl->run(); });
}

PortWatch::~PortWatch() {
    if (!impl_->thread.joinable()) return;
    const char stop = 0;
    while (write(impl_->stopWrite.fd, &stop, 1) < 0 && errno == EINTR) {
    }
    impl_->thread.join();
}

void PortWatch::add(const std::string& port) {
    {
        std::lock_guard<std::mutex> g(impl_->lock);
        std::vector<std::string>& ports = impl_->ports;
        if (std::find(ports.begin(), ports.end(), port) != ports.end()) return;
        ports.push_back(port);
    }
    impl_->rewatch();
}

bool PortWatch::ok() const {
    return impl_->thread.joinable();
}
