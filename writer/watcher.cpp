#include <string>

#include "platform/clock.h"
#include "platform/ui.h"
#include "writer/job_report.h"
#include "writer/options.h"
#include "writer/worker.h"

namespace {
constexpr uint32_t kWatchPollMs = 10;
}

void completionWatcher(Channel* ch) {
    bool firstSoundsPlayed = false;
    writeDone.store(0);
    while (ch->writeBusy.load() == 1) {
        if (writeDone.load() == 1 && !firstSoundsPlayed) {
            firstSoundsPlayed = true;
            playSound("ringin.wav");
            playSound("carib.wav");
        }
        sleepMs(kWatchPollMs);
    }
    // Unsigned difference: a wrap of the tick count during the job does not disturb it.
    const uint32_t seconds = (tickCount() - startTick.load()) / 1000u;
    jobReportEnded();
    const std::string text =
        "書込みが終了しました\n書き込み時間は" + std::to_string(seconds) + "秒です";
    playSound("ringin.wav");
    playSound("ringin.wav");
    playSound("ringin.wav");
    playSound("end.wav");
    messageBox(mainDlg, text, "ZemScrivana", kMbOk);
    enableStart();
}
