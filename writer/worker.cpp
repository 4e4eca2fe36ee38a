#include "writer/worker.h"

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "writer/frame.h"
#include "writer/job_report.h"
#include "writer/options.h"
#include "writer/reply.h"

std::atomic<int> writeDone{0};
std::atomic<uint32_t> startTick{0};

// A sum reply must fit this buffer whole (STX, at most 15 sum characters, ETX, two digits).
constexpr size_t kSumReplySize = 20;

namespace {

void sendRegister(Channel* ch, const std::string& text) {
    commPuts(frameBuild(text.c_str()).c_str(), ch);
    commPuts(device::kRegisterLineEnd, ch);
}

std::string reg(const char* name, int value) {
    return std::string("WD ") + name + " " + std::to_string(value);
}

void runWriteJob(Channel* ch, const std::string& dataPath) {
    // The data file is opened and read through before anything is sent: a missing, unreadable
    // or broken file must not cost the device its data.
    TextStream file;
    jobReportStep(jobstep::kData);
    if (const int err = file.open(dataPath); err != 0) {
        jobReportFail(dataPath + ": " + systemErrorText(err));
        failWrite(ch, "画面ﾃﾞｰﾀ異常");
    }
    if (const DataCheck check = checkDataFile(dataPath); !check.ok()) {
        jobReportFail(dataPath + ": " + dataCheckText(check));
        failWrite(ch, "画面ﾃﾞｰﾀ異常");
    }

    ch->baudRate = device::kWriteBaud;
    commSetBaud(ch);
    sendScreenData(ch, file);

    char reply[kReplyBufSize];
    sendCommand(ch, device::kWriteEnd);
    waitReply(ch, device::kWriteEnd, reply, sizeof reply);

    sendSettings(ch);
    setStatusText("書き込み終了", ch->statusWnd);
    writeDone.store(1);

    queryDataSum(ch);
    setProgressRange(0, 100, ch->progressWnd);
    setProgressPos(100, ch->progressWnd);
    endWrite(ch);
}

}  // namespace

void failWrite(Channel* ch, const std::string& status) {
    setStatusText(status, ch->statusWnd);
    endWrite(ch);
    throw WriteAborted{};
}

void writeWorker(Channel* ch, const std::string& dataPath) {
    try {
        runWriteJob(ch, dataPath);
    } catch (const WriteAborted&) {
        // The job has ended: status shown, port closed, writeBusy 0.
    }
}

void sendSettings(Channel* ch) {
    sendRegister(ch, reg("bf07b", optVertical()));
    sendRegister(ch, "WD bf075 1");
    sleepMs(device::kSettingsPauseMs);
    if (optTransferSettings()) {
        sendRegister(ch, reg("bf07a", optStartupCheck()));
        sendRegister(ch, reg("bf07c", optKeepSram() ? 0 : 1));
        sendRegister(ch, reg("bf078", optLatin()));
        const int rs422 = optRs422();
        sendRegister(ch, reg("bf303", rs422));
        const int speed = lineSpeedValue(optLineSpeed());
        if (speed >= 0) sendRegister(ch, reg(rs422 ? "bf305" : "bf304", speed));
        sendRegister(ch, reg("bf306", optResponseCheck()));
        sendRegister(ch, reg("bf307", optFlowControl()));
        sendRegister(ch, "WD bf075 1");
        sleepMs(device::kSettingsPauseMs);
    }
    sendCommand(ch, device::kUpdate);
}

void queryDataSum(Channel* ch) {
    sleepMs(device::kSumQueryPauseMs);
    sendCommand(ch, device::kSumQuery);
    // The whole line is taken, so that one too long for the sum reply can be told and refused.
    char reply[kLineBufSize];
    waitReply(ch, device::kSumQuery, reply, sizeof reply);

    char text[kFrameTextSize];
    const char* sum = "(null)";
    const bool readable = std::strlen(reply) < kSumReplySize && frameParse(reply, text);
    if (readable) sum = text;
    jobReportSum(readable ? text : nullptr);
    std::string result = std::string("データ sum=") + sum + " ";
    messageBox(nullptr, result, "", kMbOk);
    setStatusText(result, ch->statusWnd);
    result += " 設定保存済";
    setStatusText(result, ch->statusWnd);
}
