// What a job showed, as a front end of the tests' own records it: the status texts, the bar
// and how often the data was reported written. For jobs on other threads too.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "writer/job.h"

class RecordingObserver : public JobObserver {
public:
    void status(const std::string& text) override { locked([&] { statuses_.push_back(text); }); }
    void progressRange(int32_t high) override { locked([&] { high_ = high, pos_ = 0; }); }
    void progressPos(int32_t pos) override { locked([&] { pos_ = pos; }); }
    void written() override { locked([&] { ++written_; }); }

    // The status line as it stands: the last text shown, empty before any.
    std::string last() const { return statuses_.empty() ? "" : statuses_.back(); }
    // Every text that was not empty, in order.
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const std::string& s : statuses_)
            if (!s.empty()) out.push_back(s);
        return out;
    }
    void bar(int* high, int* pos) const { *high = high_, *pos = pos_; }
    int writtenCount() const { return written_; }

private:
    // The job's thread writes; the test reads once the job has ended.
    template <typename F>
    void locked(F f) {
        std::lock_guard<std::mutex> g(m_);
        f();
    }

    std::mutex m_;
    std::vector<std::string> statuses_;
    int32_t high_ = 0, pos_ = 0;
    int written_ = 0;
};
