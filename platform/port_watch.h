// Whether a port's device is there, and word of when that may have changed: a station starts a
// slot when its device is plugged in, and must see it pulled out mid-write.
#pragma once

#include <functional>
#include <memory>
#include <string>

// The device a port name reaches (portDeviceName) exists now: a link that leads nowhere, or a
// COM name the system does not list, is absent.
bool portPresent(const std::string& port);

// Watches ports for their devices coming and going. `changed` is called on a thread of the
// watcher's own whenever a watched port's presence may have changed (it may be called when
// nothing did: the caller asks portPresent). No busy polling on Linux: inotify on the folder of
// each port's path and of the device it leads to (the nearest existing parent while a folder is
// missing). Windows lists the COM ports every kComListInterval.
class PortWatch {
  public:
    explicit PortWatch(std::function<void()> changed);
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;
    // Stops and joins the thread: `changed` is never called after it returns.
    ~PortWatch();

    // Watches one more port (one watched already is left as it is); from any thread.
    void add(const std::string& port);
    // False when the system gave no watch (no thread, no inotify): the caller cannot rely on it.
    bool ok() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};
