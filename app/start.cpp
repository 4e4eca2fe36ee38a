#include <string>

#include "app/dialogs.h"
#include "app/job_log.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/resources.h"
#include "platform/thread.h"
#include "writer/job_report.h"
#include "writer/options.h"
#include "writer/reply.h"
#include "writer/worker.h"

namespace {
constexpr int kOpenPasses = 8;
}

void startCommand() {
    Channel* ch = &mainChannel;
    if (dataFilePath.empty()) {
        const std::string text = resString(13);
        const std::string caption = resString(12);
        messageBox(mainDlg, text, caption, kMbOk);
        return;
    }
    if (!jobLogReady()) return;
    jobReportBegin();
    jobReportStep(jobstep::kOpen);
    bool opened = false;
    for (int pass = 0; pass < kOpenPasses; ++pass) {
        setStatusText("", ch->statusWnd);
        if (checkState(ch->notUsedWnd) == kChecked) continue;
        if (ch->writeBusy.load() != 0) continue;
        if (!commOpen(portName, ch)) {
            setStatusText(kPortUnusableText, ch->statusWnd);
            jobReportFail(systemErrorText(commLastOpenError.load()));
            continue;
        }
        ch->writeBusy.store(1);
        opened = true;
    }
    disableStart();
    startTick.store(tickCount());

    // The watcher is started before the worker, so that a job whose threads cannot be started
    // still ends: without a watcher nothing runs and Start comes back at once; without a
    // worker the watcher sees the channel given up and announces the end.
    if (!startThread([ch] { completionWatcher(ch); })) {
        if (opened) endWrite(ch);
        setStatusText(kThreadFailedText, ch->statusWnd);
        enableStart();
        return;
    }
    if (opened && !startThread([ch, path = dataFilePath] { writeWorker(ch, path); })) {
        setStatusText(kThreadFailedText, ch->statusWnd);
        endWrite(ch);
    }
}
