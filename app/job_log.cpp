#include "app/job_log.h"

#include "app/main_dialog_ids.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/hash.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "station/events.h"

namespace {

void failBox(Desktop& d, const std::string& what, int err) {
    messageBox(d.dlg, what + "\n" + d.log.path + "\n" + d.log.file->errorText(err),
               resString(kStrAppName), kMbOk);
}

}  // namespace

void recordJob(Desktop& d) {
    if (!d.log.file || d.log.openError != 0) return;
    DesktopJob& job = d.job;
    const double seconds = (tickCount() - job.startTick.load()) / 1000.0;
    const JobResult result = job.lastResult();
    std::string sum;
    // Without a reason of its own, the job's last status text says how it ended.
    const std::string status = windowText(dlgItem(d.dlg, IDC_STATUS));
    const EndInfo end = jobEndOf(result, status, "", seconds, sum);
    LogRecord r = jobRecord(job.portName, end, sum);
    r.dataFile = job.dataPath;
    if (sha256File(job.dataPath, r.dataSha256, r.dataBytes) != 0) r.dataSha256.clear();
    r.options = writeSettingsOptions(job.settings);
    if (const int err = d.log.file->append(r); err != 0)
        failBox(d, "ログに記録できませんでした", err);
}

std::string logArgument(int argc, char** argv) {
    const std::string flag = "--log";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == flag && i + 1 < argc) return argv[i + 1];
        if (arg.rfind(flag + "=", 0) == 0) return arg.substr(flag.size() + 1);
    }
    return std::string();
}

int useJobLog(DesktopLog& log, const std::string& path) {
    log.path = path;
    log.file = std::make_unique<LogFile>();
    log.openError = log.file->open(path);
    if (log.openError == 0 && !log.file->keepsAllFields())
        debugOut("log " + path + " has an older header: its records leave out " +
                 log.file->columnsLeftOut());
    return log.openError;
}

bool jobLogReady(Desktop& d) {
    if (d.log.path.empty()) return true;
    if (d.log.openError != 0) {
        failBox(d, "ログファイルに書き込めません", d.log.openError);
        return false;
    }
    return true;
}
