// What a job showed, as a front end of the tests' own records it: the status texts, the bar,
// the sum and whether the data was reported written. Thread-safe, for jobs on other threads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "writer/job.h"

class RecordingObserver : public JobObserver {
public:
    void status(const std::string& text) override {
        std::lock_guard<std::mutex> g(m_);
        statuses_.push_back(text);
    }
    void progressRange(int32_t high) override {
        std::lock_guard<std::mutex> g(m_);
        high_ = high;
        pos_ = 0;
    }
    void progressPos(int32_t pos) override {
        std::lock_guard<std::mutex> g(m_);
        pos_ = pos;
    }
    void written() override {
        std::lock_guard<std::mutex> g(m_);
        ++written_;
    }
    void sumRead(const std::string& text, const char*) override {
        std::lock_guard<std::mutex> g(m_);
        sumTexts_.push_back(text);
    }

    // The status line as it stands: the last text shown, empty before any.
    std::string last() const {
        std::lock_guard<std::mutex> g(m_);
        return statuses_.empty() ? std::string() : statuses_.back();
    }
    // Every text that was not empty, in order.
    std::vector<std::string> texts() const {
        std::lock_guard<std::mutex> g(m_);
        std::vector<std::string> out;
        for (const std::string& s : statuses_)
            if (!s.empty()) out.push_back(s);
        return out;
    }
    void bar(int* high, int* pos) const {
        std::lock_guard<std::mutex> g(m_);
        *high = high_;
        *pos = pos_;
    }
    int writtenCount() const {
        std::lock_guard<std::mutex> g(m_);
        return written_;
    }
    std::vector<std::string> sumTexts() const {
        std::lock_guard<std::mutex> g(m_);
        return sumTexts_;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> statuses_;
    std::vector<std::string> sumTexts_;
    int32_t high_ = 0, pos_ = 0;
    int written_ = 0;
};
