#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/port_watch.h"
#include "platform/serial.h"

namespace {

// Windows sends no word of a COM port coming or going to a program without a window: the list
// is read this often instead.
constexpr std::chrono::milliseconds kComListInterval{250};
// Room for what a DOS device name stands for.
constexpr size_t kDosTargetSize = 1024;
// "\\.\" before a COM name above COM9.
constexpr size_t kDevicePrefixLength = 4;

}  // namespace

bool portPresent(const std::string& port) {
    std::string name = portDeviceName(port);
    if (name.empty()) return false;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(kDevicePrefixLength);
    std::vector<char> target(kDosTargetSize);
    // A name with more targets than fit is still present.
    return QueryDosDeviceA(name.c_str(), target.data(), DWORD(target.size())) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

struct PortWatch::Impl {
    std::function<void()> changed;
    std::mutex lock;
    std::condition_variable stopChanged;
    bool stopping = false;           // under lock
    std::vector<std::string> ports;  // under lock
    std::map<std::string, bool> seen;
    std::thread thread;

    void run() {
        std::unique_lock<std::mutex> g(lock);
        while (!stopping) {
            const std::vector<std::string> now = ports;
            g.unlock();
            bool differs = false;
            for (const std::string& port : now) {
                const bool present = portPresent(port);
                auto [it, added] = seen.emplace(port, present);
                differs = differs || added || it->second != present;
                it->second = present;
            }
            if (differs) changed();
            g.lock();
            stopChanged.wait_for(g, kComListInterval, [this] { return stopping; });
        }
    }
};

PortWatch::PortWatch(std::function<void()> changed) : impl_(std::make_unique<Impl>()) {
    impl_->changed = std::move(changed);
    Impl* impl = impl_.get();
    impl_->thread = std::thread([impl] { impl->run(); });
}

PortWatch::~PortWatch() {
    {
        std::lock_guard<std::mutex> g(impl_->lock);
        impl_->stopping = true;
    }
    impl_->stopChanged.notify_all();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void PortWatch::add(const std::string& port) {
    std::lock_guard<std::mutex> g(impl_->lock);
    std::vector<std::string>& ports = impl_->ports;
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
}

bool PortWatch::ok() const {
    return impl_->thread.joinable();
}
