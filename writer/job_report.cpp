#include "writer/job_report.h"

#include <mutex>

namespace {

std::mutex reportLock;
JobSnapshot report;

}  // namespace

void jobReportBegin() {
    std::lock_guard<std::mutex> lock(reportLock);
    report = JobSnapshot{};
}

void jobReportStep(const char* step) {
    std::lock_guard<std::mutex> lock(reportLock);
    report.step = step;
}

void jobReportProgress(uint64_t sent, uint64_t total) {
    std::lock_guard<std::mutex> lock(reportLock);
    report.sent = sent;
    report.total = total;
}

void jobReportFail(const std::string& reason) {
    std::lock_guard<std::mutex> lock(reportLock);
    if (report.reason.empty()) report.reason = reason;
}

void jobReportSum(const char* sum) {
    std::lock_guard<std::mutex> lock(reportLock);
    report.sumState = sum ? SumState::Read : SumState::Unreadable;
    report.sum = sum ? sum : "";
}

namespace {
std::function<void()> endListener;  // set at start-up, before any job
}  // namespace

void setJobEndListener(std::function<void()> listener) { endListener = std::move(listener); }

void jobReportEnded() {
    if (endListener) endListener();
}

JobSnapshot jobReportSnapshot() {
    std::lock_guard<std::mutex> lock(reportLock);
    return report;
}
