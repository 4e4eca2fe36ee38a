#include "station/line_sender.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/debug.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/serial.h"
#include "station/log.h"
#include "station/log_reader.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kRecordsPath = "/api/v1/records";
constexpr int kHttpOk = 200;
// The server's answer to a batch whose content it refuses: nothing of the batch is stored.
constexpr int kHttpBadRequest = 400;
// The token's file holds one line; more than this is no token file.
constexpr size_t kMaxTokenBytes = 4096;
// A made id: 16 bytes of a digest, marked as a UUID of version 8 (made by its own rule).
constexpr size_t kUuidTextSize = 36;
// Of an answer that is no JSON, this much is shown.
constexpr size_t kMaxShownBody = 200;

bool isUuid(const std::string& id) {
    if (id.size() != kUuidTextSize) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) return false;
    }
    return true;
}

// For a record of an older log (no id column) or one whose id is no UUID: the same UUID each
// time it is read, from its bytes.
std::string madeId(const std::string& line) {
    Sha256 digest;
    digest.update(line.data(), line.size());
    return digestRecordId(digest.finish());
}

std::string unguarded(const std::string& field) {
    return !field.empty() && field[0] == '\'' ? field.substr(1) : field;
}

// A column the server takes as a number; empty fields are left out.
bool putNumber(json& j, const std::string& name, const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (name == "data_bytes") {
        uint64_t n = 0;
        if (std::from_chars(first, last, n).ptr == last) j[name] = n;
    } else if (name == "attempt") {
        int n = 0;
        if (std::from_chars(first, last, n).ptr == last) j[name] = n;
    } else if (name == "seconds") {
        double d = 0;
        if (std::from_chars(first, last, d).ptr == last) j[name] = d;
    } else {
        return false;
    }
    return true;
}

// The record as the server takes it: the header's names as keys. Null for a line that is no
// record under this header (torn, or from another file).
json recordJson(const std::vector<std::string>& header, const RawRecord& raw, std::string& id) {
    if (raw.fields.size() != header.size()) return nullptr;
    json j = json::object();
    id.clear();
    for (size_t i = 0; i < header.size(); ++i) {
        const std::string value = unguarded(raw.fields[i]);
        if (header[i] == "id") {
            id = value;
        } else if (!value.empty() && putNumber(j, header[i], value)) {
        } else if (header[i] != "data_bytes" && header[i] != "attempt" && header[i] != "seconds") {
            j[header[i]] = value;
        }
    }
    if (!isUuid(id)) id = madeId(raw.line);
    for (char& c : id) c = char(std::tolower(static_cast<unsigned char>(c)));
    j["id"] = id;
    return j;
}

std::string trimmedToken(std::string s) {
    const size_t end = s.find_first_of("\r\n");
    if (end != std::string::npos) s.resize(end);
    const size_t first = s.find_first_not_of(" \t");
    const size_t last = s.find_last_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, last - first + 1);
}

// What LOG.sent holds: every record up to `offset` is stored, the last of them `lastId`.
struct SentMark {
    uint64_t offset = 0;
    std::string lastId;
};

SentMark readSentMark(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    SentMark mark;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("offset=", 0) == 0) {
            const std::string n = line.substr(7);
            if (std::from_chars(n.data(), n.data() + n.size(), mark.offset).ptr !=
                n.data() + n.size())
                return SentMark();
        } else if (line.rfind("last-id=", 0) == 0) {
            mark.lastId = line.substr(8);
        }
    }
    return mark;
}

int writeSentMark(const std::string& path, const SentMark& mark) {
    const std::string text =
        "offset=" + std::to_string(mark.offset) + "\nlast-id=" + mark.lastId + "\n";
    ReplacementFile file;
    if (int err = file.open(path); err != 0) return err;
    if (int err = file.write(text.data(), text.size()); err != 0) return err;
    return file.commit();
}

// Honoured only in test builds: the program dies as if killed after the server stored a batch
// and before its acknowledgement is kept, so that the resend at the next start can be shown.
void killIfTestAsks() {
#if ZT_TEST_HOOKS
    // The status a killed program has on POSIX, where SIGKILL is unknown.
    constexpr int kKilledStatus = 137;
    if (!std::getenv("ZEMTABULO_TEST_KILL_AFTER_SEND")) return;
#ifdef SIGKILL
    std::raise(SIGKILL);
#endif
    std::_Exit(kKilledStatus);
#endif
}

}  // namespace

std::string sentPathOf(const std::string& logPath) {
    return logPath + ".sent";
}

std::string refusedPathOf(const std::string& logPath) {
    return logPath + ".refused";
}

std::string readLineToken(const std::string& path, std::string& token) {
    token.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return "the token file " + path + " cannot be read";
    std::string text(kMaxTokenBytes, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    token = trimmedToken(text);
    if (token.empty()) return "the token file " + path + " holds no token on its first line";
    return "";
}

std::string lineTargetOf(const std::string& url, const std::string& tokenFile, LineTarget& out) {
    if (!parseHttpUrl(url, out.url)) return "not an http:// or https:// address: " + url;
    out.url.path += kRecordsPath;
    if (tokenFile.empty()) return "the line server needs a token file (--line-token-file)";
    return readLineToken(tokenFile, out.token);
}

struct LineSender::Core {
    std::string logPath;
    LineTarget target;
    std::function<void()> changed;

    mutable std::mutex m;
    std::condition_variable cv;
    bool woken = false;
    bool stopping = false;
    Clock::time_point deadline = Clock::time_point::max();  // once finish is asked
    bool urgent = false;   // finish asked: the failure's wait is cut short, once
    bool done = false;     // the thread has ended
    bool posting = false;  // inside a request: not cut short, so not waited for once stopped
    SendState state;

    // The thread's own.
    std::ifstream log;
    std::vector<std::string> header;
    uint64_t bodyStart = 0;  // where the records begin
    SentMark mark;

    // Records per batch: lowered by halves to find a record the server refuses.
    size_t batchLimit = kSendBatchRecords;

    enum class Posted { Stored, Refused, Failed };

    void run();
    bool openLog();
    void startMark();
    bool sendPass();
    Posted post(const std::string& body, const std::vector<std::string>& ids, std::string& why);
    bool setAside(const std::string& id, const std::string& why, const SentMark& after);
    void passed(const SentMark& after);
    void setState(size_t waiting, const std::string& problem);
    std::chrono::milliseconds requestTimeout();
};

void LineSender::Core::setState(size_t waiting, const std::string& problem) {
    std::function<void()> tell;
    {
        std::lock_guard<std::mutex> lock(m);
        state.waiting = waiting;
        state.scanned = true;
        state.problem = problem;
        tell = changed;
    }
    cv.notify_all();
    if (tell) tell();
}

// The log's header names the columns; a file that is not there yet has nothing to send.
bool LineSender::Core::openLog() {
    if (!header.empty()) return true;
    log = std::ifstream(logPath, std::ios::binary);
    if (!log) return false;
    RawRecord first;
    RecordReader reader(log, 0);
    if (!reader.next(first)) return false;
    dropUtf8Bom(first.fields[0]);
    if (first.fields[0] != "time_utc") return false;
    header = first.fields;
    bodyStart = first.end;
    startMark();
    return true;
}

// LOG.sent is trusted only when the record ending at its offset is the one it names: a log
// replaced or cut since is sent again whole (the server keeps each record once).
void LineSender::Core::startMark() {
    const std::string sentPath = sentPathOf(logPath);
    SentMark saved = readSentMark(sentPath);
    mark = {bodyStart, ""};
    if (saved.offset <= bodyStart) return;
    RecordReader reader(log, bodyStart);
    RawRecord raw;
    std::string lastId;
    while (reader.next(raw) && raw.end <= saved.offset) {
        std::string id;
        if (!recordJson(header, raw, id).is_null()) lastId = id;
        if (raw.end == saved.offset && lastId == saved.lastId) mark = saved;
    }
    if (mark.offset != saved.offset)
        debugOut(sentPath + " does not match " + logPath + ": every record is sent again");
}

std::chrono::milliseconds LineSender::Core::requestTimeout() {
    std::lock_guard<std::mutex> lock(m);
    if (deadline == Clock::time_point::max()) return kSendTimeout;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return std::clamp(left, std::chrono::milliseconds(1), kSendTimeout);
}

LineSender::Core::Posted LineSender::Core::post(const std::string& body,
                                                const std::vector<std::string>& ids,
                                                std::string& why) {
    {
        // None starts once stopped, so that a stopped sender not posting ends at once.
        std::lock_guard<std::mutex> lock(m);
        if (stopping) return Posted::Failed;
        posting = true;
    }
    const HttpReply reply = httpPostJson(target.url, target.token, body, requestTimeout());
    {
        std::lock_guard<std::mutex> lock(m);
        posting = false;
    }
    cv.notify_all();
    if (reply.status == 0)
        return setState(state.waiting, "no answer: " + reply.error), Posted::Failed;
    const json answer = json::parse(reply.body, nullptr, false);
    if (reply.status != kHttpOk) {
        why = answer.is_object() && answer.contains("error") && answer["error"].is_string()
                  ? answer["error"].get<std::string>()
                  : reply.body.substr(0, kMaxShownBody);
        setState(state.waiting, "HTTP " + std::to_string(reply.status) + ": " + why);
        return reply.status == kHttpBadRequest ? Posted::Refused : Posted::Failed;
    }
    std::unordered_set<std::string> acked;
    if (answer.is_object() && answer.contains("acknowledged") && answer["acknowledged"].is_array())
        for (const json& id : answer["acknowledged"])
            if (id.is_string()) acked.insert(id.get<std::string>());
    for (const std::string& id : ids)
        if (!acked.count(id))
            return setState(state.waiting, "the server did not acknowledge " + id), Posted::Failed;
    return Posted::Stored;
}

// The acknowledgement (or the setting aside) is kept before the next batch is read.
void LineSender::Core::passed(const SentMark& after) {
    if (const int err = writeSentMark(sentPathOf(logPath), after); err != 0)
        debugOut(sentPathOf(logPath) + ": " + systemErrorText(err));
    mark = after;
}

// A record the server refused on its own: listed in LOG.refused (synced before the mark passes
// it, so that a record is never passed over unlisted), then passed over. False when the list
// cannot be written: the record then waits like one the server did not answer.
bool LineSender::Core::setAside(const std::string& id, const std::string& why,
                                const SentMark& after) {
    const std::string path = refusedPathOf(logPath);
    std::string text;
    if (std::ifstream old{path, std::ios::binary})
        text.assign(std::istreambuf_iterator<char>(old), {});
    std::string reason = why;
    std::replace_if(
        reason.begin(), reason.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    text += id + "\t" + reason + "\n";
    ReplacementFile file;
    int err = file.open(path);
    if (err == 0) err = file.write(text.data(), text.size());
    if (err == 0) err = file.commit();
    if (err != 0) {
        setState(state.waiting, path + ": " + systemErrorText(err));
        return false;
    }
    passed(after);
    {
        std::lock_guard<std::mutex> lock(m);
        ++state.refused;
    }
    setState(state.waiting - 1,
             "the server refused record " + id + ": " + why + "; listed in " + path);
    return true;
}

// Sends what waits, a batch at a time, in the log's order. True when nothing waits any more.
bool LineSender::Core::sendPass() {
    if (!openLog()) return setState(0, ""), true;
    batchLimit = kSendBatchRecords;
    for (;;) {
        RecordReader reader(log, mark.offset);
        RawRecord raw;
        json records = json::array();
        std::vector<std::string> ids;
        size_t bytes = 0, waiting = 0;
        SentMark after = mark;
        while (reader.next(raw)) {
            std::string id;
            json j = recordJson(header, raw, id);
            const bool inBatch =
                ids.size() < batchLimit && bytes < kSendBatchBytes && (waiting == ids.size());
            if (j.is_null()) {
                // Not a record: skipped, and passed over with the batch it follows.
                if (inBatch) after.offset = raw.end;
                continue;
            }
            ++waiting;
            if (!inBatch) continue;
            bytes += j.dump().size();
            records.push_back(std::move(j));
            ids.push_back(id);
            after = {raw.end, id};
        }
        if (ids.empty()) {
            if (after.offset != mark.offset && writeSentMark(sentPathOf(logPath), after) == 0)
                mark = after;
            return setState(0, ""), true;
        }
        setState(waiting, state.problem);
        std::string why;
        // What stays behind this batch goes with it, for the line's wall.
        const json body{{"records", records}, {"waiting", waiting - ids.size()}};
        const Posted posted = post(body.dump(), ids, why);
        if (posted == Posted::Failed) return false;
        if (posted == Posted::Refused) {
            // Halved until the refused record is alone; the records before it go meanwhile.
            if (ids.size() > 1) {
                batchLimit = ids.size() / 2;
                continue;
            }
            if (!setAside(ids[0], why, after)) return false;
            batchLimit = kSendBatchRecords;
            continue;
        }
        killIfTestAsks();
        passed(after);
        setState(waiting - ids.size(), "");
        debugOut("line server stored " + std::to_string(ids.size()) + " records");
    }
}

void LineSender::Core::run() {
    auto retryWait = kSendRetryFirst;
    for (;;) {
        const bool sent = sendPass();
        std::unique_lock<std::mutex> lock(m);
        state.failing = !sent;
        if (stopping ||
            (deadline != Clock::time_point::max() && (sent || Clock::now() >= deadline)))
            break;
        if (sent) {
            retryWait = kSendRetryFirst;
            cv.wait_for(lock, kSendPollInterval, [&] { return woken || stopping; });
        } else {
            // A wake does not cut the wait short: a dead server is not asked at every record.
            const auto until = std::min(Clock::now() + retryWait, deadline);
            cv.wait_until(lock, until, [&] { return stopping || urgent; });
            retryWait = std::min(retryWait * 2, kSendRetryMax);
        }
        woken = urgent = false;
        if (stopping) break;
    }
    std::lock_guard<std::mutex> lock(m);
    done = true;
    cv.notify_all();
}

LineSender::LineSender(std::string logPath, LineTarget target, std::function<void()> changed)
    : core_(std::make_shared<Core>()) {
    core_->logPath = std::move(logPath);
    core_->target = std::move(target);
    core_->changed = std::move(changed);
    thread_ = std::thread([core = core_] { core->run(); });
}

LineSender::~LineSender() {
    finish(std::chrono::milliseconds(0));
    // Still inside a request at the bound: it ends with the program, holding its core.
    if (thread_.joinable()) thread_.detach();
}

void LineSender::wake() {
    {
        std::lock_guard<std::mutex> lock(core_->m);
        core_->woken = true;
    }
    core_->cv.notify_all();
}

size_t LineSender::finish(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(core_->m);
    if (!core_->done) {
        core_->deadline = std::min(core_->deadline, Clock::now() + bound);
        core_->woken = core_->urgent = true;
        core_->cv.notify_all();
        core_->cv.wait_until(lock, core_->deadline, [&] { return core_->done; });
        core_->stopping = true;
        core_->changed = nullptr;
        core_->cv.notify_all();
        // Out of a request it ends within moments; in one, it is left to it (the bound holds).
        core_->cv.wait_for(lock, kSendStopWait, [&] { return core_->done || core_->posting; });
    }
    const size_t waiting = core_->state.waiting;
    const bool ended = core_->done;
    lock.unlock();
    // A thread that has ended is joined, so that its own end (the TLS library's per-thread
    // state freed) is over before the program's exit handlers run; one detached while idle
    // raced the exit, and LeakSanitizer saw that state as leaked.
    if (ended && thread_.joinable()) thread_.join();
    return waiting;
}

SendState LineSender::state() const {
    std::lock_guard<std::mutex> lock(core_->m);
    return core_->state;
}
