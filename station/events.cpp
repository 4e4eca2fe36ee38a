#include "station/events.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/host.h"
#include "platform/serial.h"
#include "station/unit.h"
#include "zt_version.h"

namespace {

Json portEvent(const char* kind, const std::string& port) {
    Json e = Json::object();
    e["event"] = kind;
    e["port"] = port;
    return e;
}

}  // namespace

Json startEvent(const StartInfo& info) {
    Json e{{"event", "start"},    {"schema", kEventSchema}, {"version", info.version},
           {"ports", info.ports}, {"data", info.data},      {"sha256", info.sha256},
           {"bytes", info.bytes}};
    if (std::any_of(info.units.begin(), info.units.end(),
                    [](const std::string& u) { return !u.empty(); }))
        e["units"] = info.units;
    return e;
}

Json statusEvent(const std::string& port, const std::string& text) {
    Json e = portEvent("status", port);
    e["text"] = text;
    return e;
}

Json stepEvent(const std::string& port, const std::string& step) {
    Json e = portEvent("step", port);
    e["step"] = step;
    return e;
}

Json progressEvent(const std::string& port, uint64_t sent, uint64_t total) {
    Json e = portEvent("progress", port);
    e["sent"] = sent;
    e["total"] = total;
    return e;
}

Json sumEvent(const std::string& port, const std::string& sum) {
    Json e = portEvent("sum", port);
    e["sum"] = sum.empty() ? Json(nullptr) : Json(sum);
    return e;
}

Json endEvent(const std::string& port, const EndInfo& info) {
    Json e = portEvent("end", port);
    e["result"] = slotResultName(info.result);
    e["exit"] = info.exit;
    e["seconds"] = std::round(info.seconds * 1000) / 1000;
    e["step"] = info.step;
    e["reason"] = info.reason;
    if (!info.dataSha256.empty()) {
        e["data_sha256"] = info.dataSha256;
        e["data_bytes"] = info.dataBytes;
    }
    return e;
}

Json withUnit(Json event, const std::string& unit, bool rework) {
    if (unit.empty()) return event;
    event["unit"] = unit;
    if (rework) event["rework"] = true;
    return event;
}

Json doneEvent(int exit) {
    return Json{{"event", "done"}, {"exit", exit}};
}

const char* programVersion() {
    return kZtVersion;
}

std::string portIdentity(const std::string& port) {
    const std::string device = portDeviceName(port);
    return device.empty() ? port : serialDeviceIdentity(device);
}

LogRecord jobRecord(const std::string& port, const EndInfo& end, const std::string& sum) {
    LogRecord r;
    r.timeUtc = utcTimestamp(std::chrono::system_clock::now());
    r.host = hostName();
    r.port = port;
    r.device = portIdentity(port);
    r.result = slotResultName(end.result);
    r.sum = sum;
    r.seconds = end.seconds;
    r.step = end.step;
    r.reason = end.reason;
    r.version = programVersion();
    r.id = newRecordId();
    return r;
}

LogRecord slotRecord(const std::string& port, const EndInfo& end, const std::string& sum,
                     const SlotRecordInfo& info) {
    LogRecord r = jobRecord(port, end, sum);
    if (!info.recordId.empty()) r.id = info.recordId;
    r.dataFile = info.dataFile;
    const bool sent = !end.dataSha256.empty();
    r.dataSha256 = sent ? end.dataSha256 : info.dataSha256;
    r.dataBytes = sent ? end.dataBytes : info.dataBytes;
    r.options = info.options;
    r.expectedSum = info.expectedSum;
    r.attempt = info.attempt;
    r.unit = info.unit;
    if (info.rework) r.reason = reworkReason(r.reason);
    return r;
}

EndInfo jobEndOf(const JobResult& report, const std::string& status, const std::string& expected,
                 double seconds, std::string& sum) {
    EndInfo end;
    end.seconds = seconds;
    if (report.dataWhole) {
        end.dataSha256 = report.dataSha256;
        end.dataBytes = report.dataBytes;
    }
    sum = report.sumState == SumState::Read ? report.sum : "";
    std::vector<SlotOutcome> slot(1);
    if (report.sumState != SumState::None) {
        slot[0] = {sum.empty() ? SlotResult::SumUnreadable : SlotResult::Ok, sum};
    } else {
        end.step = report.step;
        end.reason = report.reason.empty() ? status : report.reason;
    }
    applySumVerdicts(slot, expected);
    end.result = slot[0].result;
    end.exit = exitStatusOf(slot);
    if (end.result == SlotResult::SumMismatch) {
        end.step = "sb";
        end.reason = "sum " + sum + ", expected " + expected;
    } else if (end.result == SlotResult::SumUnreadable) {
        end.step = "sb";
        end.reason = "the sum reply could not be read";
    }
    return end;
}

bool EventWriter::emit(Json event) {
    std::lock_guard<std::mutex> lock(lock_);
    // Rounded to the millisecond, and never below the last one given.
    lastT_ = std::max(lastT_, std::round(seconds() * 1000) / 1000);
    event["t"] = lastT_;
    // Texts from the device or a file may hold bytes that are no UTF-8: replaced, not fatal.
    return writeLine(event.dump(-1, ' ', false, Json::error_handler_t::replace));
}

bool EventWriter::keepAlive() {
    std::lock_guard<std::mutex> lock(lock_);
    return writeLine(std::string());
}

bool EventWriter::broken() const {
    std::lock_guard<std::mutex> lock(lock_);
    return broken_;
}

bool EventWriter::writeLine(const std::string& line) {
    if (broken_) return false;
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    // The stream's error flag stays set: once a write failed, every later one is dropped.
    broken_ = std::fflush(out_) != 0 || std::ferror(out_) != 0;
    return !broken_;
}

double EventWriter::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

std::optional<Json> parseEvent(const std::string& line) {
    Json e = Json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object() || !e.contains("event") || !e["event"].is_string())
        return std::nullopt;
    return e;
}

std::string eventText(const Json& event, const char* key) {
    auto it = event.find(key);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool readEndInfo(const Json& event, EndInfo& out) {
    if (eventText(event, "event") != "end") return false;
    if (!parseSlotResult(eventText(event, "result"), out.result)) return false;
    auto exit = event.find("exit");
    auto seconds = event.find("seconds");
    if (exit == event.end() || !exit->is_number_integer()) return false;
    if (seconds == event.end() || !seconds->is_number()) return false;
    out.exit = exit->get<int>();
    out.seconds = seconds->get<double>();
    out.step = eventText(event, "step");
    out.reason = eventText(event, "reason");
    // Told only by a child that read the file to its end: an end without them still reads.
    out.dataSha256 = eventText(event, "data_sha256");
    const auto bytes = event.find("data_bytes");
    const bool counted = bytes != event.end() && bytes->is_number_unsigned();
    out.dataBytes = counted ? bytes->get<uint64_t>() : 0;
    if (!counted) out.dataSha256.clear();
    return true;
}

void LineSplitter::feed(const char* data, size_t n,
                        const std::function<void(const std::string&)>& line) {
    const char* end = data + n;
    while (data < end) {
        const char* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
        const char* stop = nl ? nl : end;
        if (!overlong_) {
            partial_.append(data, size_t(stop - data));
            if (partial_.size() > kMaxEventLine) {
                overlong_ = true;
                partial_.clear();
            }
        }
        if (!nl) return;
        if (!overlong_) {
            if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
            line(partial_);
        }
        partial_.clear();
        overlong_ = false;
        data = nl + 1;
    }
}

bool ProgressThrottle::due(uint64_t sent, uint64_t total, bool force) {
    if (sent == lastSent_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!force && sent != total && now - last_ < kProgressInterval) return false;
    last_ = now;
    lastSent_ = sent;
    return true;
}
