// The Start command of the main dialog: the job on a worker thread, its progress in the
// dialog's controls, and a completion watcher that plays the sounds and shows the end box.
#include <string>

#include "app/dialogs.h"
#include "app/job_log.h"
#include "app/main_dialog_ids.h"
#include "app/settings_controls.h"
#include "platform/clock.h"
#include "platform/resources.h"
#include "platform/serial.h"
#include "platform/thread.h"

namespace {

constexpr uint32_t kWatchPollMs = 10;
constexpr const char* kEndCaption = "ZemScrivana";

// The job's progress as the main dialog shows it.
class DialogObserver : public JobObserver {
  public:
    explicit DialogObserver(Desktop& d)
        : d_(d), status_(dlgItem(d.dlg, IDC_STATUS)), bar_(dlgItem(d.dlg, IDC_PROGRESS)) {}
    void status(const std::string& text) override { setWindowText(status_, text); }
    void progressRange(int32_t high) override { progressSetRange(bar_, 0, high); }
    void progressPos(int32_t pos) override { progressSetPos(bar_, pos); }
    void written() override { d_.job.written.store(1); }
    // The box has no owner, so that the dialog stays usable while it is open.
    void sumRead(const std::string& text, const char*) override {
        messageBox(nullptr, text, "", kMbOk);
    }

  private:
    Desktop& d_;
    Window status_;
    Window bar_;
};

// A port that failed under the job ends the program, as it always has: the record first,
// then the system's reason in a box captioned with the failed operation.
[[noreturn]] void portFaultExit(Desktop& d, const JobResult& result) {
    recordJob(d);
    messageBox(nullptr, systemErrorText(result.portFaultError), result.portFaultOp,
               kMbOk | kMbIconInformation);
    serialReleaseLocksForExit();  // some front ends end without running exit handlers
    exitProgram(0);
}

void writeWorker(Desktop& d) {
    DialogObserver obs(d);
    DesktopJob& job = d.job;
    const JobResult result = runWriteJob(job.channel, job.settings, job.dataPath, obs);
    job.setResult(result);
    if (result.portFault()) portFaultExit(d, result);
    job.busy.store(0);
}

// The port of the job, unless the (hidden) "not used" box keeps it closed or a job still
// holds it.
bool openPort(Desktop& d, DialogObserver& obs, JobResult& result) {
    DesktopJob& job = d.job;
    if (checkState(dlgItem(d.dlg, IDC_NOT_USED)) == kChecked || job.busy.load() != 0) {
        result.step = jobstep::kOpen;
        obs.status("");
        return false;
    }
    if (openJobPort(job.channel, job.portName, obs, result) != 0) return false;
    job.busy.store(1);
    return true;
}

}  // namespace

void completionWatcher(Desktop& d) {
    DesktopJob& job = d.job;
    bool firstSoundsPlayed = false;
    while (job.busy.load() == 1) {
        if (job.written.load() == 1 && !firstSoundsPlayed) {
            firstSoundsPlayed = true;
            playSound("ringin.wav");
            playSound("carib.wav");
        }
        sleepMs(kWatchPollMs);
    }
    // Unsigned difference: a wrap of the tick count during the job does not disturb it.
    const uint32_t seconds = (tickCount() - job.startTick.load()) / 1000u;
    recordJob(d);
    const std::string text =
        "書込みが終了しました\n書き込み時間は" + std::to_string(seconds) + "秒です";
    playSound("ringin.wav");
    playSound("ringin.wav");
    playSound("ringin.wav");
    playSound("end.wav");
    messageBox(d.dlg, text, kEndCaption, kMbOk);
    enableWindow(dlgItem(d.dlg, IDC_START), true);
}

void startCommand(Desktop& d) {
    if (d.dataFilePath.empty()) {
        messageBox(d.dlg, resString(kStrNoDataFile), resString(kStrAppName), kMbOk);
        return;
    }
    if (!jobLogReady(d)) return;
    DesktopJob& job = d.job;
    // What the job is started with is what it writes and what its record says, whatever the
    // operator changes while it runs.
    job.settings = settingsFromDialog(d.dlg);
    job.dataPath = d.dataFilePath;
    job.portName = d.portName;
    job.written.store(0);
    DialogObserver obs(d);
    JobResult result;
    const bool opened = openPort(d, obs, result);
    job.setResult(result);
    enableWindow(dlgItem(d.dlg, IDC_START), false);
    job.startTick.store(tickCount());

    // The watcher is started before the worker, so that a job whose threads cannot be started
    // still ends: without a watcher nothing runs and Start comes back at once; without a
    // worker the watcher sees the channel given up and announces the end.
    Desktop* desktop = &d;
    if (!startThread([desktop] { completionWatcher(*desktop); })) {
        if (opened) {
            commClose(&job.channel);
            job.busy.store(0);
        }
        obs.status(kThreadFailedText);
        enableWindow(dlgItem(d.dlg, IDC_START), true);
        return;
    }
    if (opened && !startThread([desktop] { writeWorker(*desktop); })) {
        obs.status(kThreadFailedText);
        commClose(&job.channel);
        job.busy.store(0);
    }
}
