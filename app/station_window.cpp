// The station window's procedure: the settings at the top, a row per slot; each slot's write
// a child process whose events come back to the window as posted commands, so that all the
// window's state is kept on the dialog thread.
#include <array>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "app/station_window.h"
#include "app/station_window_ini.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "station/log.h"
#include "station/slot_job.h"
#include "station/verdict.h"

namespace {

constexpr const char* kOkSound = "end.wav";
constexpr const char* kNgSound = "";  // a name no file has: the system's alert sound
// The data file's path as chooseOpenFile may give it.
constexpr size_t kStationPathBufSize = 500;

// The settings boxes and the fields the operator may change; all but the Start buttons and
// Exit, which a locked station keeps.
constexpr int kSettingsBoxes[] = {IDC_VERTICAL,       IDC_SKIP_BITMAPS, IDC_TRANSFER_SETTINGS,
                                  IDC_STARTUP_CHECK,  IDC_LATIN,        IDC_RESPONSE_CHECK,
                                  IDC_FLOW_CONTROL};
// What the Transfer settings box enables, as in the main dialog.
constexpr int kTransferDependents[] = {IDC_STARTUP_CHECK, IDC_LATIN,      IDC_RESPONSE_CHECK,
                                       IDC_FLOW_CONTROL,  IDC_LINE_SPEED, IDC_LINE_SPEED_LABEL};
constexpr int kEditableFields[] = {IDC_ST_DATA_FILE, IDC_ST_EXPECT, IDC_ST_FIRST_SUM, IDC_ST_LOG};

// Plays sounds one after the other on a thread of its own, so that the window never waits
// for a sound; the sounds asked for are all played before it is destroyed.
class SoundQueue {
public:
    SoundQueue() : thread_([this] { run(); }) {}
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

// What a slot was started with: its verdict and its record use this alone, whatever the
// operator changes in the window while it writes.
struct SlotStart {
    std::string dataPath;
    std::string dataSha256;
    uint64_t dataBytes = 0;
    std::vector<std::string> flags;
    std::string expectSum;  // as the field held it; empty for none
    bool firstSum = false;  // "use the first device's sum" was checked
    std::shared_ptr<LogFile> log;
};

struct SlotRun {
    std::unique_ptr<SlotJob> job;
    SlotStart started;
    bool running = false;
    std::string port;    // as the job was given it
    std::string device;  // the device it reaches
    uint32_t startTick = 0;
    // What the row shows, so that an event that changes nothing repaints nothing.
    int shownPercent = -1;
    std::string shownStatus;
};

struct Station {
    Window dlg = nullptr;
    StationConfig config;
    bool locked = false;
    int slots = 0;
    std::array<SlotRun, kMaxStationSlots> runs;
    std::string dataPath;
    // Taken at each Start: the data file as the log records it, the settings as flags.
    std::string dataSha256;
    uint64_t dataBytes = 0;
    std::vector<std::string> flags;
    std::shared_ptr<LogFile> log;
    std::string learnedSum;  // the expected sum the first good device gave, once it did
    bool iniFailTold = false;
    bool stopping = false;
    SoundQueue sounds;
};

std::unique_ptr<Station> g_station;

Window item(int id) { return dlgItem(g_station->dlg, id); }
Window slotItem(int slot, SlotPart part) { return item(slotControlId(slot, part)); }

void box(const std::string& text) {
    messageBox(g_station->dlg, text, resString(kStrAppName), kMbOk);
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::string slotPort(int slot) {
    Window combo = slotItem(slot, kSlotPort);
    return comboText(combo, comboSel(combo));
}

// ---- Setting up ----

void fillPorts(int slot, const std::vector<std::string>& present, const std::string& wanted) {
    Window combo = slotItem(slot, kSlotPort);
    for (const std::string& p : present) comboAdd(combo, p);
    int sel = -1;
    for (int i = 0; i < comboCount(combo); ++i)
        if (comboText(combo, i) == wanted) sel = i;
    // A configured port that is not there now is still shown: its Start says why it fails.
    if (sel < 0 && !wanted.empty()) sel = comboAdd(combo, wanted);
    comboSetSel(combo, sel);
}

void followTransferSettings() {
    const bool on = buttonState(g_station->dlg, IDC_TRANSFER_SETTINGS) == kChecked;
    for (int id : kTransferDependents) enableWindow(item(id), on && !g_station->locked);
}

void applyLock() {
    const bool open = !g_station->locked;
    for (int id : kSettingsBoxes) enableWindow(item(id), open);
    for (int id : kEditableFields) enableWindow(item(id), open);
    followTransferSettings();
    for (int s = 0; s < g_station->slots; ++s)
        enableWindow(slotItem(s, kSlotPort), open && !g_station->runs[size_t(s)].running);
}

void initStation(Window dlg) {
    Station& st = *g_station;
    st.dlg = dlg;
    const StationConfig& c = st.config;
    showSettings(dlg, c.settings);
    setButtonState(dlg, IDC_ST_FIRST_SUM, c.firstSum ? kChecked : kUnchecked);
    st.dataPath = c.data;
    if (!c.data.empty()) setWindowText(item(IDC_ST_DATA_PATH), c.data);
    setWindowText(item(IDC_ST_EXPECT), c.expectSum);
    setWindowText(item(IDC_ST_LOG), c.log);
    const std::vector<std::string> present = serialPortsPresent();
    for (int s = 0; s < st.slots; ++s) {
        setWindowText(slotItem(s, kSlotName), c.slots[size_t(s)].name);
        fillPorts(s, present, c.slots[size_t(s)].port);
        progressSetRange(slotItem(s, kSlotProgress), 0, 100);
    }
    applyLock();
}

// ---- The configuration as the window shows it ----

StationConfig shownConfig() {
    const Station& st = *g_station;
    StationConfig c = st.config;
    Window dlg = st.dlg;
    auto on = [dlg](int id) { return buttonState(dlg, id) == kChecked; };
    c.data = st.dataPath;
    c.settings = settingsFromDialog(dlg, st.config.settings);
    c.settings.lineSpeed = std::max(0, c.settings.lineSpeed);
    const std::string expect = trimmed(windowText(item(IDC_ST_EXPECT)));
    // A sum learnt from the first device holds for this session only.
    c.expectSum = !st.learnedSum.empty() && expect == st.learnedSum ? st.config.expectSum : expect;
    c.firstSum = on(IDC_ST_FIRST_SUM);
    c.log = trimmed(windowText(item(IDC_ST_LOG)));
    for (int s = 0; s < st.slots; ++s) c.slots[size_t(s)].port = slotPort(s);
    return c;
}

void saveConfig() {
    Station& st = *g_station;
    const int err = writeStationIni(kStationIniName, shownConfig());
    if (err != 0 && !st.iniFailTold) {
        st.iniFailTold = true;
        box(std::string(kStationIniName) + " に書き込めません\n" +
            (err == kErrInvalidData ? "改行を含む値があります" : systemErrorText(err)));
    }
}

// ---- Start ----

// What every slot's start needs; false after a box that says what is missing.
bool readyToStart() {
    Station& st = *g_station;
    if (st.dataPath.empty()) {
        box(resString(kStrNoDataFile));
        return false;
    }
    if (const int err = sha256File(st.dataPath, st.dataSha256, st.dataBytes); err != 0) {
        box("データファイルを読めません\n" + st.dataPath + "\n" + systemErrorText(err));
        return false;
    }
    const std::string expect = trimmed(windowText(item(IDC_ST_EXPECT)));
    if (!expect.empty() && !isHexSum(expect)) {
        box("期待ｻﾑが正しくありません: " + expect + "\n16進数1～15桁で指定してください");
        return false;
    }
    const std::string logPath = trimmed(windowText(item(IDC_ST_LOG)));
    if (logPath.empty()) {
        box("ログファイルが未設定です");
        return false;
    }
    if (!st.log || st.log->path() != logPath) {
        auto log = std::make_shared<LogFile>();
        if (const int err = log->open(logPath); err != 0) {
            box("ログファイルに書き込めません\n" + logPath + "\n" + log->errorText(err));
            return false;
        }
        // Said once, when the log is taken: the window has no status line of its own.
        if (!log->keepsAllFields())
            box("ログファイルの見出し行が古い形式のため、次の列は記録されません: " +
                log->columnsLeftOut() + "\n" + logPath);
        st.log = std::move(log);
    }
    st.flags = writeSettingsFlags(settingsFromDialog(st.dlg, st.config.settings));
    return true;
}

// Two slots on one device would fight over it: refused before anything starts.
bool devicesDistinct(const std::vector<int>& starting) {
    const Station& st = *g_station;
    std::vector<std::pair<int, std::string>> taken;
    for (int s = 0; s < st.slots; ++s)
        if (st.runs[size_t(s)].running) taken.emplace_back(s, st.runs[size_t(s)].device);
    for (int s : starting) {
        const std::string port = slotPort(s);
        if (port.empty()) continue;
        const std::string device = portIdentity(port);
        for (const auto& [other, dev] : taken) {
            if (dev != device) continue;
            box(windowText(slotItem(other, kSlotName)) + " と " + windowText(slotItem(s, kSlotName)) +
                " は同じ機器です\n" + device);
            return false;
        }
        taken.emplace_back(s, device);
    }
    return true;
}

void showResult(int slot, const std::string& text, uint32_t colour) {
    Window field = slotItem(slot, kSlotResult);
    setControlColour(field, colour);
    setWindowText(field, text);
}

void finishSlot(int slot);

void startSlot(int slot) {
    Station& st = *g_station;
    SlotRun& run = st.runs[size_t(slot)];
    run.port = slotPort(slot);
    run.device = run.port.empty() ? std::string() : portIdentity(run.port);
    run.startTick = tickCount();
    run.shownPercent = 0;
    run.shownStatus.clear();
    run.running = true;
    enableWindow(slotItem(slot, kSlotStart), false);
    enableWindow(slotItem(slot, kSlotPort), false);
    setWindowText(slotItem(slot, kSlotStatus), "");
    progressSetPos(slotItem(slot, kSlotProgress), 0);
    showResult(slot, "0%", kNoColour);
    run.started = {st.dataPath, st.dataSha256, st.dataBytes, st.flags,
                   trimmed(windowText(item(IDC_ST_EXPECT))),
                   buttonState(st.dlg, IDC_ST_FIRST_SUM) == kChecked, st.log};
    run.job = std::make_unique<SlotJob>();
    if (run.port.empty()) {
        finishSlot(slot);
        return;
    }
    Window dlg = st.dlg;
    const int event = slotControlId(slot, kSlotEvent);
    const int err = run.job->start(slotJobArgs(stationJobProgram(), run.port, run.started.dataPath,
                                               run.started.flags),
                                   true, [dlg, event](const std::optional<Json>&) {
                                       postCommand(dlg, event);
                                   });
    if (err != 0) {
        setWindowText(slotItem(slot, kSlotStatus), "cannot start the job: " + systemErrorText(err));
        finishSlot(slot);
    }
}

void startSlots(const std::vector<int>& wanted) {
    Station& st = *g_station;
    std::vector<int> idle;
    for (int s : wanted)
        if (s < st.slots && !st.runs[size_t(s)].running) idle.push_back(s);
    if (idle.empty() || !readyToStart() || !devicesDistinct(idle)) return;
    saveConfig();
    for (int s : idle) startSlot(s);
}

// ---- A slot's events and end ----

void followSlot(int slot) {
    Station& st = *g_station;
    SlotRun& run = st.runs[size_t(slot)];
    if (!run.running || !run.job) return;
    const SlotState state = run.job->state();
    if (state.closed) {
        finishSlot(slot);
        return;
    }
    if (state.status != run.shownStatus) {
        run.shownStatus = state.status;
        setWindowText(slotItem(slot, kSlotStatus), state.status);
    }
    // Held at 100 for a file that grew while it was sent.
    const uint64_t sent = std::min(state.sent, state.total);
    const int percent = state.total ? int(sent * 100 / state.total) : 0;
    if (percent != run.shownPercent) {
        run.shownPercent = percent;
        progressSetPos(slotItem(slot, kSlotProgress), percent);
        showResult(slot, std::to_string(percent) + "%", kNoColour);
    }
}

std::string stepName(const std::string& step) {
    static const struct {
        const char* step;
        const char* name;
    } kNames[] = {{"open", "ﾎﾟｰﾄ"}, {"fws", "開始"},  {"fs", "保存"},   {"erase", "消去"},
                  {"data", "ﾃﾞｰﾀ"}, {"fs_end", "保存"}, {"fwe", "終了"}, {"sb", "ｻﾑ"}};
    for (const auto& n : kNames)
        if (step == n.step) return n.name;
    return step;
}

// The few words of an NG result field: what went wrong, and where. A job that ended without
// telling how (killed, crashed) was cut short wherever it was: the status line names the step.
std::string ngWords(const EndInfo& end, const std::string& port, bool vanished) {
    if (vanished) return "中断";
    switch (end.result) {
        case SlotResult::SumMismatch: return "ｻﾑ不一致";
        case SlotResult::SumUnreadable: return "ｻﾑ読取不可";
        case SlotResult::Interrupted: return "中断";
        default: break;
    }
    if (port.empty()) return "ﾎﾟｰﾄ未設定";
    if (end.step == "open" || end.step.empty()) return "ﾎﾟｰﾄ使用不可";
    if (end.reason.rfind("no answer", 0) == 0) return stepName(end.step) + "無応答";
    return stepName(end.step) + "失敗";
}

// The status line of a failed slot: the system's own text (in the system's language) comes
// after a Japanese reason, as the rest of the window speaks.
std::string failureText(const EndInfo& end) {
    if (end.result != SlotResult::Failed) return end.reason;
    if (end.step == jobstep::kOpen) return "ﾎﾟｰﾄを使用できません: " + end.reason;
    if (end.reason.rfind("commGetc:", 0) == 0 || end.reason.rfind("commPutc:", 0) == 0)
        return "通信異常: " + end.reason;
    if (end.step == jobstep::kData) return std::string(jobtext::kBadData) + ": " + end.reason;
    return end.reason;
}

EndInfo slotEnd(SlotRun& run, const SlotState& state, int exitStatus) {
    const double seconds = (tickCount() - run.startTick) / 1000.0;
    if (!run.job->started()) {  // no port chosen, or the job could not be started
        EndInfo end;
        end.step = "open";
        end.seconds = seconds;
        end.reason = run.port.empty() ? "no port chosen" : "the job could not be started";
        return end;
    }
    return state.endSeen ? state.end
                         : vanishedEnd(exitStatus, seconds, g_station->stopping, SIGTERM,
                                       state.step);
}

// The sum against the one expected when the slot was started, or, with "take the first", the
// first good sum becomes it: that device's own verdict is OK, every later one is held to it.
// Returns the expected sum the verdict used, empty for none.
std::string judgeSum(const SlotStart& started, EndInfo& end, const std::string& sum) {
    Station& st = *g_station;
    if (end.result != SlotResult::Ok) return std::string();
    std::string expected = started.expectSum;
    if (expected.empty() && started.firstSum) {
        if (st.learnedSum.empty() && !sum.empty()) {
            st.learnedSum = sum;
            setWindowText(item(IDC_ST_EXPECT), sum);
            return sum;
        }
        expected = st.learnedSum;
    }
    if (expected.empty()) return std::string();
    std::vector<SlotOutcome> one{{end.result, sum}};
    applySumVerdicts(one, expected);
    if (one[0].result != SlotResult::SumMismatch) return expected;
    end.result = SlotResult::SumMismatch;
    end.exit = kExitSumsWrong;
    end.step = "sb";
    end.reason = "sum " + sum + ", expected " + expected;
    return expected;
}

bool recordSlot(const SlotRun& run, const EndInfo& end, const std::string& sum,
                const std::string& expected) {
    const SlotStart& started = run.started;
    LogRecord r = jobRecord(run.port, end, sum);
    r.dataFile = started.dataPath;
    r.dataSha256 = started.dataSha256;
    r.dataBytes = started.dataBytes;
    r.options = joined(started.flags);
    r.expectedSum = expected;
    return started.log && started.log->append(r) == 0;
}

void finishSlot(int slot) {
    Station& st = *g_station;
    SlotRun& run = st.runs[size_t(slot)];
    const int exitStatus = run.job->finish();
    const SlotState state = run.job->state();
    EndInfo end = slotEnd(run, state, exitStatus);
    const std::string sum = state.sum;
    const std::string expected = judgeSum(run.started, end, sum);
    const bool recorded = recordSlot(run, end, sum, expected);
    run.running = false;

    const bool ok = end.result == SlotResult::Ok && recorded;
    if (ok) {
        progressSetPos(slotItem(slot, kSlotProgress), 100);
        showResult(slot, "OK " + sum, kOkColour);
        setWindowText(slotItem(slot, kSlotStatus),
                      "完了 " + std::to_string(int(end.seconds + 0.5)) + "秒");
    } else {
        const bool vanished = run.job->started() && !state.endSeen;
        showResult(slot, "NG " + (recorded ? ngWords(end, run.port, vanished) : "記録不可"),
                   kNgColour);
        const std::string where =
            vanished && !end.step.empty() ? " [" + stepName(end.step) + "]" : "";
        setWindowText(slotItem(slot, kSlotStatus), recorded ? failureText(end) + where
                                                            : "ログに記録できませんでした: " +
                                                                  run.started.log->path());
    }
    if (!st.stopping) st.sounds.play(ok ? kOkSound : kNgSound);
    enableWindow(slotItem(slot, kSlotStart), true);
    enableWindow(slotItem(slot, kSlotPort), !st.locked);
}

// ---- Exit ----

bool anyRunning() {
    for (const SlotRun& r : g_station->runs)
        if (r.running) return true;
    return false;
}

// As Ctrl-C stops the command-line write: every job asked to stop, ended after a grace, and
// each device recorded as interrupted.
void stopAll() {
    Station& st = *g_station;
    st.stopping = true;
    for (SlotRun& r : st.runs)
        if (r.running) r.job->terminate();
    for (int s = 0; s < st.slots; ++s) {
        SlotRun& r = st.runs[size_t(s)];
        if (!r.running) continue;
        r.job->stop();
        finishSlot(s);
    }
}

void exitCommand() {
    if (anyRunning()) {
        if (!askYesNo(g_station->dlg, "書込み中の治具があります。\n書込みを中止して終了しますか?",
                      resString(kStrAppName)))
            return;
        stopAll();
    }
    endDialog(g_station->dlg, IDC_ST_EXIT);
}

void chooseData() {
    Station& st = *g_station;
    std::string path = st.dataPath;
    static const std::string kFilter = std::string("V3データファイル files(*.*)\0*.*\0\0", 31);
    if (chooseOpenFile(st.dlg, path, kStationPathBufSize, kFilter, "画面データの指定")) {
        st.dataPath = path;
        setWindowText(item(IDC_ST_DATA_PATH), path);
    }
}

bool slotCommand(int id) {
    const int offset = id - kSlotIdBase;
    if (offset < 0 || offset >= g_station->slots * kSlotIdStride) return false;
    const int slot = offset / kSlotIdStride;
    switch (offset % kSlotIdStride) {
        case kSlotStart: startSlots({slot}); break;
        case kSlotEvent: followSlot(slot); break;
        default: break;  // the port list changes by itself
    }
    return true;
}

}  // namespace

bool stationDlgProc(Window dlg, unsigned msg, int id) {
    if (msg == kMsgInitDialog) {
        initStation(dlg);
        return true;
    }
    if (msg != kMsgCommand || !g_station) return false;
    if (slotCommand(id)) return true;
    switch (id) {
        case IDC_ST_EXIT: exitCommand(); break;
        case IDC_ST_START_ALL: {
            std::vector<int> all;
            for (int s = 0; s < g_station->slots; ++s) all.push_back(s);
            startSlots(all);
            break;
        }
        case IDC_ST_DATA_FILE: chooseData(); break;
        case IDC_TRANSFER_SETTINGS: followTransferSettings(); break;
        default: break;  // check boxes and edit boxes change by themselves
    }
    return true;
}

std::string stationJobProgram() {
    std::string self = selfExecutablePath();
    size_t cut = self.size();
    while (cut > 0 && !isPathSeparator(self[cut - 1])) --cut;
#ifdef _WIN32
    return self.substr(0, cut) + "zemtabulo-cli.exe";
#else
    return self.substr(0, cut) + "zemtabulo-cli";
#endif
}

int stationMain(const std::vector<std::string>& args) {
    g_station = std::make_unique<Station>();
    Station& st = *g_station;
    std::vector<std::string> malformed;
    int err = 0;
    if (!readStationIni(kStationIniName, st.config, malformed, err)) {
        box(std::string(kStationIniName) + " を読めません\n" + systemErrorText(err));
        st.config = defaultStationConfig();
    }
    if (!malformed.empty()) {
        std::string text = std::string(kStationIniName) + " の次の行は使えないため無視しました";
        for (const std::string& m : malformed) text += "\n" + m;
        box(text);
    }
    st.locked = st.config.locked;
    for (const std::string& a : args)
        if (a == "--locked") st.locked = true;
    st.slots = int(st.config.slots.size());
    const std::unique_ptr<StationTemplate> tmpl = stationTemplate(st.slots);
    dialogBox(tmpl->dialog, nullptr, stationDlgProc);
    g_station.reset();
    return 0;
}
