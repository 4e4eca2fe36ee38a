#include "station/slot_job.h"

#include <csignal>
#include <utility>

namespace {
// Bytes read from a child's pipe at a time.
constexpr size_t kPipeReadSize = 4096;
}  // namespace

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
#ifdef SIGHUP
        case SIGHUP:
            return "SIGHUP";
#endif
        default:
            return "SIGTERM";
    }
}

std::vector<std::string> slotJobArgs(const std::string& cli, const std::string& port,
                                     const std::string& data, const std::vector<std::string>& flags,
                                     const SlotJobExtras& extras) {
    std::vector<std::string> args{cli, "write", "--slot", "--json", "--port", port, "--data", data};
    args.insert(args.end(), flags.begin(), flags.end());
    const std::pair<const char*, const std::string*> options[] = {
        {"--log", &extras.log},
        {"--record-id", &extras.recordId},
        {"--data-sha256", &extras.dataSha256},
        {"--expect-sum", &extras.expectSum},
    };
    for (const auto& [flag, value] : options)
        if (!value->empty()) args.insert(args.end(), {flag, *value});
    if (extras.attempt > 1) args.insert(args.end(), {"--attempt", std::to_string(extras.attempt)});
    // The parent checked the unit: the child only records it.
    if (!extras.unit.empty()) args.insert(args.end(), {"--unit", port + "=" + extras.unit});
    if (!extras.unit.empty() && extras.rework) args.push_back("--rework");
    return args;
}

bool erasedByStep(const std::string& step) {
    for (const char* s : {"erase", "data", "fs_end"})
        if (step == s) return true;
    return false;
}

EndInfo interruptedEnd(const std::string& step, double seconds, int signal) {
    EndInfo end;
    end.result = SlotResult::Interrupted;
    end.exit = kExitInterrupted;
    end.seconds = seconds;
    end.step = step;
    end.reason = std::string("interrupted (") + signalName(signal) + ")" +
                 (erasedByStep(step) ? kErasedReason : "");
    return end;
}

EndInfo vanishedEnd(int exitStatus, double seconds, bool stopping, int signal,
                    const std::string& step) {
    if (stopping) return interruptedEnd(step, seconds, signal);
    EndInfo end;
    end.seconds = seconds;
    end.step = step;
    end.result = SlotResult::Failed;
    end.reason = "the job ended without a result (exit status " + std::to_string(exitStatus) +
                 ")" + (erasedByStep(step) ? kErasedReason : "");
    return end;
}

SlotJob::~SlotJob() {
    if (child_.started() && !finished_) stop();
}

int SlotJob::start(const std::vector<std::string>& args, bool quietErrors, Listener listener) {
    listener_ = std::move(listener);
    if (const int err = child_.start(args, quietErrors); err != 0) return err;
    reader_ = std::thread([this] { read(); });
    return 0;
}

void SlotJob::read() {
    LineSplitter splitter;
    char buf[kPipeReadSize];
    long long n;
    while ((n = child_.read(buf, sizeof buf)) > 0) {
        splitter.feed(buf, size_t(n), [this](const std::string& line) {
            std::optional<Json> event = parseEvent(line);
            if (event && listener_) listener_(event);
        });
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        closed_ = true;
        closedChanged_.notify_all();
    }
    if (listener_) listener_(std::nullopt);
}

int SlotJob::finish() {
    if (finished_) return exit_;
    if (reader_.joinable()) reader_.join();
    exit_ = child_.started() ? child_.wait() : -1;
    finished_ = true;
    return exit_;
}

int SlotJob::stop() {
    if (finished_ || !child_.started()) return finish();
    child_.terminate();
    bool closed;
    {
        std::unique_lock<std::mutex> g(lock_);
        closed = closedChanged_.wait_for(g, kStopGrace, [this] { return closed_; });
    }
    if (!closed) child_.kill();
    return finish();
}
