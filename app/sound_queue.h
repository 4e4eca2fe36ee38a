// Sounds played one after the other on a thread of their own, so that a window never waits for
// a sound; the sounds asked for are all played before the queue is destroyed.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ui.h"

class SoundQueue {
  public:
    SoundQueue() : thread_([this] { run(); }) {}
    SoundQueue(const SoundQueue&) = delete;
    SoundQueue& operator=(const SoundQueue&) = delete;
    ~SoundQueue() {
        {
            std::lock_guard<std::mutex> g(lock_);
            closing_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void play(const std::string& file) {
        std::lock_guard<std::mutex> g(lock_);
        // Several devices ending together sound once.
        if (!queue_.empty() && queue_.back() == file) return;
        queue_.push_back(file);
        changed_.notify_all();
    }

  private:
    void run() {
        std::unique_lock<std::mutex> g(lock_);
        for (;;) {
            changed_.wait(g, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const std::string file = queue_.front();
            queue_.pop_front();
            g.unlock();
            playSound(file);
            g.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    bool closing_ = false;
    std::thread thread_;
};
