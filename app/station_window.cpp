// The station window's procedure: the settings at the top, a row per slot; the slots are a
// station run (station/station_run.h) whose children's events come back to the window as
// posted commands, so that all the window's state is kept on the dialog thread.
#include "app/station_window.h"

#include <csignal>
#include <memory>

#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "app/station_state.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/serial.h"

namespace {

// The data file's path as chooseOpenFile may give it.
constexpr size_t kStationPathBufSize = 500;

// The settings boxes and the fields the operator may change; all but the Start buttons and
// Exit, which a locked station keeps.
constexpr int kSettingsBoxes[] = {IDC_VERTICAL,      IDC_SKIP_BITMAPS, IDC_TRANSFER_SETTINGS,
                                  IDC_STARTUP_CHECK, IDC_LATIN,        IDC_RESPONSE_CHECK,
                                  IDC_FLOW_CONTROL};
// What the Transfer settings box enables, as in the main dialog.
constexpr int kTransferDependents[] = {IDC_STARTUP_CHECK, IDC_LATIN,      IDC_RESPONSE_CHECK,
                                       IDC_FLOW_CONTROL,  IDC_LINE_SPEED, IDC_LINE_SPEED_LABEL};
constexpr int kEditableFields[] = {IDC_ST_DATA_FILE, IDC_ST_EXPECT, IDC_ST_FIRST_SUM, IDC_ST_LOG};

// ---- Setting up ----

void fillPorts(Window combo, const std::vector<std::string>& present, const std::string& wanted) {
    for (const std::string& p : present) comboAdd(combo, p);
    int sel = -1;
    for (int i = 0; i < comboCount(combo); ++i)
        if (comboText(combo, i) == wanted) sel = i;
    // A configured port that is not there now is still shown: its Start says why it fails.
    if (sel < 0 && !wanted.empty()) sel = comboAdd(combo, wanted);
    comboSetSel(combo, sel);
}

void followTransferSettings(Station& st) {
    const bool on = buttonState(st.dlg, IDC_TRANSFER_SETTINGS) == kChecked;
    for (int id : kTransferDependents) enableWindow(st.item(id), on && !st.locked);
}

void applyLock(Station& st) {
    const bool open = !st.locked;
    for (int id : kSettingsBoxes) enableWindow(st.item(id), open);
    for (int id : kEditableFields) enableWindow(st.item(id), open);
    followTransferSettings(st);
    for (size_t s = 0; s < size_t(st.slots); ++s) followRow(st, s);
}

// The sender for the log at `logPath` (the one before it stops); a box when line= cannot be
// used. Its news reaches the window as a posted command, handled on the dialog thread.
void startSending(Station& st, const std::string& logPath) {
    st.sender.reset();
    setWindowText(st.item(IDC_ST_LINE_STATUS), "");
    LineTarget target;
    if (const std::string why = lineTargetOf(st.config.line, st.config.lineTokenFile, target);
        !why.empty()) {
        if (!st.lineFailTold) st.box("ラインサーバーに送信できません\n" + why);
        st.lineFailTold = true;
        return;
    }
    Window dlg = st.dlg;
    st.sender = std::make_shared<LineSender>(logPath, std::move(target),
                                             [dlg] { postCommand(dlg, IDC_ST_LINE_EVENT); });
}

void showSending(Station& st) {
    if (!st.sender) return;
    const SendState s = st.sender->state();
    std::string text;
    if (s.waiting > 0) text = "送信待ち " + std::to_string(s.waiting) + " 件";
    if (s.waiting > 0 && !s.problem.empty()) text += " (ラインサーバー応答なし)";
    if (s.refused > 0)
        text +=
            (text.empty() ? "" : " ") + std::string("拒否 ") + std::to_string(s.refused) + " 件";
    if (text != windowText(st.item(IDC_ST_LINE_STATUS)))
        setWindowText(st.item(IDC_ST_LINE_STATUS), text);
}

void initStation(Station& st) {
    const StationConfig& c = st.config;
    showSettings(st.dlg, c.settings);
    setButtonState(st.dlg, IDC_ST_FIRST_SUM, c.firstSum ? kChecked : kUnchecked);
    st.dataPath = c.data;
    if (!c.data.empty()) setWindowText(st.item(IDC_ST_DATA_PATH), c.data);
    setWindowText(st.item(IDC_ST_EXPECT), c.expectSum);
    setWindowText(st.item(IDC_ST_LOG), c.log);
    const std::vector<std::string> present = serialPortsPresent();
    for (size_t s = 0; s < size_t(st.slots); ++s) {
        setWindowText(st.slotItem(s, kSlotName), c.slots[s].name);
        fillPorts(st.slotItem(s, kSlotPort), present, c.slots[s].port);
        progressSetRange(st.slotItem(s, kSlotProgress), 0, 100);
    }
    Window dlg = st.dlg;
    st.run.onWake([dlg](size_t slot) { postCommand(dlg, slotControlId(int(slot), kSlotEvent)); });
    applyLock(st);
    // What an earlier session left unsent goes now, before any Start.
    if (!c.line.empty() && !c.log.empty()) startSending(st, c.log);
    armSavedSlots(st);
}

}  // namespace

// ---- The configuration as the window shows it ----

StationConfig shownConfig(const Station& st) {
    StationConfig c = st.config;
    c.data = st.dataPath;
    c.settings = settingsFromDialog(st.dlg, st.config.settings);
    c.settings.lineSpeed = std::max(0, c.settings.lineSpeed);
    const std::string expect = trimmed(windowText(st.item(IDC_ST_EXPECT)));
    // A sum learnt from the first device holds for this session only.
    const std::string& learned = st.run.learnedSum();
    c.expectSum = !learned.empty() && expect == learned ? st.config.expectSum : expect;
    c.firstSum = buttonState(st.dlg, IDC_ST_FIRST_SUM) == kChecked;
    c.log = trimmed(windowText(st.item(IDC_ST_LOG)));
    for (size_t s = 0; s < size_t(st.slots); ++s) c.slots[s].port = st.slotPort(s);
    shownAutoModes(st, c);
    return c;
}

void saveConfig(Station& st) {
    const int err = writeStationIni(kStationIniName, shownConfig(st));
    if (err != 0 && !st.iniFailTold) {
        st.iniFailTold = true;
        st.box(std::string(kStationIniName) + " に書き込めません\n" +
               (err == kErrInvalidData ? "改行を含む値があります" : systemErrorText(err)));
    }
}

// ---- Start ----

// What every slot started now is started with; nullopt after a box that says what is missing.
std::optional<SlotStart> startNow(Station& st) {
    SlotStart start;
    if (st.dataPath.empty()) {
        st.box(resString(kStrNoDataFile));
        return std::nullopt;
    }
    start.dataPath = st.dataPath;
    if (const int err = sha256File(st.dataPath, start.dataSha256, start.dataBytes); err != 0) {
        st.box("データファイルを読めません\n" + st.dataPath + "\n" + systemErrorText(err));
        return std::nullopt;
    }
    start.expectSum = trimmed(windowText(st.item(IDC_ST_EXPECT)));
    if (!start.expectSum.empty() && !isHexSum(start.expectSum)) {
        st.box("期待ｻﾑが正しくありません: " + start.expectSum +
               "\n16進数1～15桁で指定してください");
        return std::nullopt;
    }
    const bool firstSum = buttonState(st.dlg, IDC_ST_FIRST_SUM) == kChecked;
    start.rule = !start.expectSum.empty() ? SumRule::Expected
                 : firstSum               ? SumRule::FirstDevice
                                          : SumRule::None;
    const std::string logPath = trimmed(windowText(st.item(IDC_ST_LOG)));
    if (logPath.empty()) {
        st.box("ログファイルが未設定です");
        return std::nullopt;
    }
    if (!st.log || st.log->path() != logPath) {
        auto log = std::make_shared<LogFile>();
        if (const int err = log->open(logPath); err != 0) {
            st.box("ログファイルに書き込めません\n" + logPath + "\n" + log->errorText(err));
            return std::nullopt;
        }
        // Said once, when the log is taken: the window has no status line of its own.
        if (!log->keepsAllFields())
            st.box("ログファイルの見出し行が古い形式のため、次の列は記録されません: " +
                   log->columnsLeftOut() + "\n" + logPath);
        if (!st.config.line.empty()) {
            startSending(st, logPath);
            if (st.sender) log->onAppended([sender = st.sender] { sender->wake(); });
        }
        st.log = std::move(log);
    }
    start.log = st.log;
    start.retries = st.config.retries;
    start.retrySum = st.config.retrySum;
    start.flags = writeSettingsFlags(settingsFromDialog(st.dlg, st.config.settings));
    return start;
}

bool refusedSameDevice(Station& st, const std::vector<std::pair<size_t, std::string>>& ports) {
    const auto same = st.run.sameDevice(ports);
    if (!same) return false;
    st.box(windowText(st.slotItem(same->first, kSlotName)) + " と " +
           windowText(st.slotItem(same->second, kSlotName)) + " は同じ機器です\n" + same->device);
    return true;
}

void startSlots(Station& st, const std::vector<size_t>& wanted) {
    std::vector<std::pair<size_t, std::string>> idle;
    for (size_t s : wanted)
        if (s < size_t(st.slots) && !st.run.slot(s).running &&
            st.run.slot(s).autoState.state == AutoState::Off)
            idle.emplace_back(s, st.slotPort(s));
    if (idle.empty()) return;
    std::optional<SlotStart> start = startNow(st);
    if (!start) return;
    // Two slots on one device would fight over it: refused before anything starts.
    if (refusedSameDevice(st, idle)) return;
    std::vector<size_t> slots;
    for (const auto& [s, port] : idle) slots.push_back(s);
    std::vector<SlotStart> starts(idle.size(), *start);
    if (!takeUnits(st, slots, starts)) return;
    saveConfig(st);
    for (size_t k = 0; k < idle.size(); ++k) {
        const auto& [s, port] = idle[k];
        clearRow(st, s);
        unitRowStarted(st, s);
        starts[k].port = port;
        st.run.start(s, std::move(starts[k]), st);
        followRow(st, s);
    }
}

namespace {

// ---- Exit ----

void exitCommand(Station& st) {
    const bool running = st.run.anyRunning();
    if (running && !askYesNo(st.dlg, "書込み中の治具があります。\n書込みを中止して終了しますか?",
                             resString(kStrAppName)))
        return;
    // Kept only when the operator changed something: a file left as it was keeps the lines the
    // window could not use, for whoever fixes them.
    if (formatStationIni(shownConfig(st)) != formatStationIni(st.config)) saveConfig(st);
    disarmAll(st);
    if (running) {
        // As Ctrl-C stops the command-line write: each device recorded as interrupted.
        st.stopping = true;
        st.run.stopAll(SIGTERM, st);
    }
    endDialog(st.dlg, IDC_ST_EXIT);
}

void chooseData(Station& st) {
    std::string path = st.dataPath;
    static const std::string kFilter = std::string("V3データファイル files(*.*)\0*.*\0\0", 31);
    if (chooseOpenFile(st.dlg, path, kStationPathBufSize, kFilter, "画面データの指定")) {
        st.dataPath = path;
        setWindowText(st.item(IDC_ST_DATA_PATH), path);
    }
}

bool slotCommand(Station& st, int id) {
    const int offset = id - kSlotIdBase;
    if (offset < 0 || offset >= st.slots * kSlotIdStride) return false;
    const size_t slot = size_t(offset / kSlotIdStride);
    switch (offset % kSlotIdStride) {
        case kSlotStart:
            startSlots(st, {slot});
            break;
        case kSlotAuto:
            autoBoxClicked(st, slot);
            break;
        case kSlotEvent:
            st.run.pump(st);
            break;
        case kSlotUnit:
            unitEntered(st, slot);
            break;
        default:
            break;  // the port list changes by itself
    }
    return true;
}

}  // namespace

bool stationDlgProc(Window dlg, unsigned msg, int id) {
    Station* st = static_cast<Station*>(dialogData(dlg));
    if (!st) return false;
    if (msg == kMsgInitDialog) {
        st->dlg = dlg;
        initStation(*st);
        return true;
    }
    if (msg != kMsgCommand) return false;
    if (slotCommand(*st, id)) return true;
    switch (id) {
        case IDC_ST_EXIT:
            exitCommand(*st);
            break;
        case IDC_ST_START_ALL: {
            std::vector<size_t> all;
            for (size_t s = 0; s < size_t(st->slots); ++s) all.push_back(s);
            startSlots(*st, all);
            break;
        }
        case IDC_ST_DATA_FILE:
            chooseData(*st);
            break;
        case IDC_TRANSFER_SETTINGS:
            followTransferSettings(*st);
            break;
        case IDC_ST_LINE_EVENT:
            showSending(*st);
            break;
        default:
            break;  // check boxes and edit boxes change by themselves
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
    StationConfig config;
    std::vector<std::string> malformed;
    int err = 0;
    std::string readFailure;
    if (!readStationIni(kStationIniName, config, malformed, err)) {
        readFailure = std::string(kStationIniName) + " を読めません\n" + systemErrorText(err);
        config = defaultStationConfig();
    }
    bool locked = config.locked;
    for (const std::string& a : args)
        if (a == "--locked") locked = true;
    Station st(std::move(config), locked);
    if (!readFailure.empty()) st.box(readFailure);
    if (!malformed.empty()) {
        std::string text = std::string(kStationIniName) + " の次の行は使えないため無視しました";
        for (const std::string& m : malformed) text += "\n" + m;
        st.box(text);
    }
    initUnits(st);
    const std::unique_ptr<StationTemplate> tmpl = stationTemplate(st.slots);
    dialogBox(tmpl->dialog, nullptr, stationDlgProc, &st);
    return 0;
}
