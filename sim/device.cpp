// The device's side of a write job, answered from the device command table.
#include "sim/device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial/commands.h"
#include "writer/frame.h"

namespace {

// The job's own names for its steps, from the command table: a fault is set at the step the
// tool then reports.
const char* const kStepNames[kStepCount] = {device::kFlashMode.step,  device::kSaveStart.step,
                                            device::kImageErase.step, device::kSaveEnd.step,
                                            device::kWriteEnd.step,   device::kSumQuery.step};
constexpr const char* kOldSaveEndName = "fsave";

// Replies of the device that the tool takes whatever they say.
constexpr const char* kWriteEndReply = "FlashRom Mode End";
constexpr const char* kRegisterReply = "OK";
// A sum reply this long cannot fit a reply line: STX, 15 characters, ETX and two digits.
constexpr size_t kLongSumText = 20;

const SimOptions& options(const Device& d) {
    return *d.port->options;
}

// A plain command as its line arrives: the text without its line end.
bool isCommand(const std::string& line, const DeviceCommand& command) {
    std::string text = command.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return line == text;
}

bool isRegisterWrite(const std::string& text) {
    return text.rfind("WD ", 0) == 0 || text == device::kUpdate.text;
}

std::string hex2(unsigned v, bool upper) {
    char buf[3];
    std::snprintf(buf, sizeof buf, upper ? "%02X" : "%02x", v & 0xffu);
    return buf;
}

// The framed sum reply with the faults the options ask for.
std::string sumReply(const Device& d) {
    const Faults& faults = portFaults(*d.port);
    std::string sum = options(d).sum.empty() ? dataSumText(d.dataSum) : options(d).sum;
    if (faults.longSum && sum.size() < kLongSumText) sum.insert(0, kLongSumText - sum.size(), '0');
    std::string frame = frameBuild(sum.c_str());
    if (!faults.badSum && !faults.upperSum) return frame;
    unsigned check = 0;
    for (unsigned char c : sum) check ^= c;
    if (faults.badSum) check ^= 0x5a;
    return frame.substr(0, frame.size() - 2) + hex2(check, faults.upperSum);
}

void startData(Device& d) {
    d.dataPhase = true;
    d.dataSum = 0;
    d.dataLines = 0;
    d.dataBytes = 0;
}

void endData(Device& d) {
    d.dataPhase = false;
    simLog(options(d), false,
           "data: " + std::to_string(d.dataLines) + " lines, sum " + dataSumText(d.dataSum));
}

FeedResult onSumQuery(Device& d) {
    if (!portAnswer(*d.port, Step::Sb, sumReply(d))) return FeedResult::Go;
    ++d.jobsDone;
    int jobs = options(d).jobs;
    return jobs > 0 && d.jobsDone >= jobs ? FeedResult::JobsDone : FeedResult::Go;
}

FeedResult onFrame(Device& d, const std::string& line) {
    char text[kFrameTextSize];
    if (!frameParse(line.c_str(), text)) {
        simLog(options(d), true, "bad frame ignored: " + printable(line));
        return FeedResult::Go;
    }
    std::string command = text;
    if (command == device::kFlashMode.text) {
        // Each job begins here: a job after the first finds the faults spent.
        if (options(d).faultsOnce && d.jobsBegun++ > 0) d.port->faultsSpent = true;
        portAnswer(*d.port, Step::Fws, device::kFlashMode.reply);
    } else if (command == device::kSumQuery.text) {
        return onSumQuery(d);
    } else if (isRegisterWrite(command)) {
        if (options(d).replyRegisters) portSendLine(*d.port, kRegisterReply);
    } else {
        simLog(options(d), true, "unknown framed command ignored: " + printable(command));
    }
    return FeedResult::Go;
}

FeedResult onCommandLine(Device& d, const std::string& line) {
    if (line.empty()) return FeedResult::Go;
    if (line[0] == kStx) return onFrame(d, line);
    if (isCommand(line, device::kSaveStart)) {
        portAnswer(*d.port, Step::Fs, device::kSaveStart.reply);
    } else if (isCommand(line, device::kImageErase) || isCommand(line, device::kPageErase)) {
        bool image = isCommand(line, device::kImageErase);
        startData(d);
        portAnswer(*d.port, Step::Erase,
                   image ? device::kImageErase.reply : device::kPageErase.reply);
    } else if (isCommand(line, device::kSaveEnd)) {
        portAnswer(*d.port, Step::FsEnd, device::kSaveEnd.reply);
    } else if (isCommand(line, device::kWriteEnd)) {
        portAnswer(*d.port, Step::Fwe, kWriteEndReply);
    } else {
        simLog(options(d), true, "unknown command ignored: " + printable(line));
    }
    return FeedResult::Go;
}

bool isFlashModeFrame(const std::string& line) {
    char text[kFrameTextSize];
    return line[0] == kStx && frameParse(line.c_str(), text) &&
           std::strcmp(text, device::kFlashMode.text) == 0;
}

// In a save every line is data up to "Fs". A new flash-write mode command also ends it: the
// tool that sent the save may have gone away before its end.
FeedResult onDataLine(Device& d, const std::string& line) {
    if (isCommand(line, device::kSaveEnd)) {
        endData(d);
        simLog(options(d), false, "<- " + printable(d.line + '\n'));
        return onCommandLine(d, line);
    }
    if (!line.empty() && isFlashModeFrame(line)) {
        simLog(options(d), true, "save left unfinished; new job");
        d.dataPhase = false;
        return onCommandLine(d, line);
    }
    d.dataSum = uint16_t(d.dataSum + d.lineSum + '\n');
    ++d.dataLines;
    return FeedResult::Go;
}

FeedResult onLine(Device& d) {
    std::string line = d.line;
    if (d.lineLength <= kCommandLineMax && !line.empty() && line.back() == '\r') line.pop_back();
    if (!d.dataPhase) simLog(options(d), false, "<- " + printable(d.line + '\n'));
    if (d.dataPhase) return onDataLine(d, d.lineLength > kCommandLineMax ? std::string() : line);
    return d.lineLength > kCommandLineMax ? FeedResult::Go : onCommandLine(d, line);
}

bool hangupDue(const Device& d) {
    int64_t after = portFaults(*d.port).hangupAfter;
    return d.dataPhase && after >= 0 && d.dataBytes >= uint64_t(after);
}

FeedResult takeByte(Device& d, char c) {
    if (d.dataPhase) ++d.dataBytes;
    if (c == '\n') {
        FeedResult result = onLine(d);
        d.line.clear();
        d.lineLength = 0;
        d.lineSum = 0;
        return result;
    }
    if (d.line.size() < kCommandLineMax) d.line += c;
    ++d.lineLength;
    d.lineSum = uint16_t(d.lineSum + static_cast<unsigned char>(c));
    return FeedResult::Go;
}

// Where the next run of bytes to capture and take ends: through the next LF (a line's end may
// change the phase), and not beyond the byte after which the line is to be hung up.
size_t runEnd(const Device& d, const char* data, size_t from, size_t n) {
    const void* lf = std::memchr(data + from, '\n', n - from);
    size_t end = lf ? size_t(static_cast<const char*>(lf) - data) + 1 : n;
    int64_t after = portFaults(*d.port).hangupAfter;
    if (d.dataPhase && after >= 0) {
        uint64_t left = d.dataBytes >= uint64_t(after) ? 0 : uint64_t(after) - d.dataBytes;
        end = std::min<uint64_t>(end, from + left);
    }
    return end;
}

}  // namespace

const char* stepName(Step step) {
    return kStepNames[size_t(step)];
}

bool stepFromName(const std::string& name, Step& step) {
    for (size_t i = 0; i < kStepCount; ++i) {
        if (name == kStepNames[i]) {
            step = Step(i);
            return true;
        }
    }
    if (name == kOldSaveEndName) return step = Step::FsEnd, true;
    return false;
}

FeedResult deviceFeed(Device& d, const char* data, size_t n) {
    size_t i = 0;
    while (i < n && !hangupDue(d)) {
        // Captured before it is answered: whoever got the reply finds the command there.
        size_t end = runEnd(d, data, i, n);
        portCapture(*d.port, data + i, end - i);
        for (; i < end; ++i) {
            FeedResult result = takeByte(d, data[i]);
            if (result != FeedResult::Go) return result;
            if (!d.port->master.valid()) return FeedResult::HungUp;  // --hangup-at
        }
    }
    if (hangupDue(d)) {
        portHangup(*d.port);
        return FeedResult::HungUp;
    }
    return FeedResult::Go;
}

std::string dataSumText(uint16_t sum) {
    char buf[5];
    std::snprintf(buf, sizeof buf, "%04X", unsigned(sum));
    return buf;
}

uint16_t addToDataSum(uint16_t sum, const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) sum = uint16_t(sum + p[i]);
    return sum;
}
