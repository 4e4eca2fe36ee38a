#include "app/job_log.h"

#include <chrono>
#include <memory>

#include "app/dialogs.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/hash.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "station/events.h"
#include "station/log.h"
#include "writer/job_report.h"
#include "writer/options.h"
#include "writer/worker.h"

namespace {

struct JobLog {
    std::string path;
    int openError = 0;
    std::unique_ptr<LogFile> file;
    // Taken at Start: what the job was asked to do.
    std::string dataFile;
    std::string options;
};

JobLog g_log;

void failBox(const std::string& what, int err) {
    messageBox(mainDlg, what + "\n" + g_log.path + "\n" + systemErrorText(err), resString(12),
               kMbOk);
}

void recordJob() {
    const double seconds = (tickCount() - startTick.load()) / 1000.0;
    std::string sum;
    const EndInfo end = jobEndOf(jobReportSnapshot(), windowText(mainChannel.statusWnd), "",
                                 seconds, sum);
    LogRecord r = jobRecord(portName, end, sum);
    r.dataFile = g_log.dataFile;
    if (sha256File(g_log.dataFile, r.dataSha256, r.dataBytes) != 0) r.dataSha256.clear();
    r.options = g_log.options;
    if (const int err = g_log.file->append(r); err != 0) failBox("ログに記録できませんでした", err);
}

}  // namespace

std::string logArgument(int argc, char** argv) {
    const std::string flag = "--log";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == flag && i + 1 < argc) return argv[i + 1];
        if (arg.rfind(flag + "=", 0) == 0) return arg.substr(flag.size() + 1);
    }
    return std::string();
}

int useJobLog(const std::string& path) {
    g_log.path = path;
    g_log.file = std::make_unique<LogFile>();
    g_log.openError = g_log.file->open(path);
    setJobEndListener(g_log.openError == 0 ? std::function<void()>(recordJob) : nullptr);
    return g_log.openError;
}

std::vector<std::string> checkedSettingsFlags() { return settingsFlagsOf(mainDlg); }

std::vector<std::string> settingsFlagsOf(Window dlg) {
    std::vector<std::string> out;
    const struct {
        int id;
        const char* flag;
    } boxes[] = {
        {IDC_VERTICAL, "--vertical"},           {IDC_TRANSFER_SETTINGS, "--transfer-settings"},
        {IDC_STARTUP_CHECK, "--startup-check"}, {IDC_KEEP_SRAM, "--keep-sram"},
        {IDC_LATIN, "--latin"},                 {IDC_RS422, "--rs422"},
        {IDC_RESPONSE_CHECK, "--response-check"}, {IDC_FLOW_CONTROL, "--flow-control"},
        {IDC_SKIP_BITMAPS, "--skip-bitmaps"},
    };
    // Exactly checked, as the option readers take a box.
    for (const auto& b : boxes)
        if (buttonState(dlg, b.id) == kChecked) out.push_back(b.flag);
    // The default entry, 38400, is the flag's default too.
    const int speed = comboSel(dlgItem(dlg, IDC_LINE_SPEED));
    if (speed >= 0 && speed < kDefaultLineSpeed)
        out.insert(out.end(), {"--speed", kLineSpeedTexts[speed]});
    return out;
}

bool jobLogReady() {
    if (g_log.path.empty()) return true;
    if (g_log.openError != 0) {
        failBox("ログファイルに書き込めません", g_log.openError);
        return false;
    }
    g_log.dataFile = dataFilePath;
    g_log.options.clear();
    for (const std::string& flag : checkedSettingsFlags()) {
        if (!g_log.options.empty()) g_log.options += ' ';
        g_log.options += flag;
    }
    return true;
}
