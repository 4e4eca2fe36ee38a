// Fault drills: whole write jobs against v3sim on a noisy line, with a device that answers at
// the last moment, with the adapter pulled out at each step, with bad data files, and with a
// second program on the same port.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <thread>

#include "app/dialogs.h"
#include "job_fixture.h"
#include "lock_files.h"
#include "platform/resources.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "serial/commands.h"

namespace {

using RealClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kSmallData = "BMP 001 8 2\nB 00FF\nB FF00\nPAGE 1\nTEXT 0 0 \"ready\"\nENDPAGE\n";
const char* const kBadData = "画面ﾃﾞｰﾀ異常";
const char* const kDataPhase = "ﾃﾞｰﾀ書き込み中";
const char* const kEraseStarted = "ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始";

// Lines of data, `lines` of them, some 40 bytes each.
std::string dataLines(int lines) {
    std::string data = "PAGE 1\n";
    for (int i = 0; i < lines; ++i)
        data += "TEXT " + std::to_string(i) + " 0 \"line of the drill\"\n";
    return data;
}

std::string sumStatus(const ExpectedJob& job) {
    return "データ sum=" + simDataSum(job.dataPart()) + "  設定保存済";
}

// The stream the device received against the one expected, without printing megabytes.
::testing::AssertionResult sameStream(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return ::testing::AssertionFailure()
           << "received " << got.size() << " bytes, expected " << want.size()
           << ", first difference at " << at << ": \"" << got.substr(at, 40) << "\" instead of \""
           << want.substr(at, 40) << "\"";
}

struct DrillTest : JobTest {
    // A fresh record for the next job of the same test.
    void resetRecord() {
        std::lock_guard<std::mutex> lock(rec.m);
        rec.statuses.clear();
        rec.boxes.clear();
        rec.sounds.clear();
        rec.ended = false;
    }

    bool statusSeen(const std::string& text) {
        std::lock_guard<std::mutex> lock(rec.m);
        return std::find(rec.statuses.begin(), rec.statuses.end(), text) != rec.statuses.end();
    }

    // Waits (real time, at most 10 s) until `ready` holds.
    template <class Pred>
    bool waitFor(Pred ready) {
        for (auto until = RealClock::now() + 10s; RealClock::now() < until;) {
            if (ready()) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    void expectChannelGivenUp() {
        EXPECT_EQ(ui.desk.job.busy, 0);
        EXPECT_FALSE(ui.desk.job.channel.port.isOpen());
    }
};

// ---- Noise between the replies ----

// A job on a noisy line: "" when it completed with the whole stream, else the step whose wait
// timed out. Which reply the noise spoils is fixed by the seed, so each seed has one outcome.
std::string noisyJob(DrillTest& t, uint32_t seed, bool spoil) {
    // No --jobs: a device that ends after its sum reply would hang the line up on a tool that
    // did not take the reply.
    std::vector<std::string> args = {"--noise-bytes", "--noise-seed", std::to_string(seed)};
    if (spoil) args.push_back("--noise-spoil");
    t.resetRecord();
    t.startDevice(args);
    t.useData(kSmallData);
    t.runJob();

    ExpectedJob want{kSmallData};
    const std::string whole = want.whole();
    const std::string got = t.sim.captured();
    EXPECT_EQ(whole.compare(0, got.size(), got), 0) << "the device got more than the job";
    t.expectChannelGivenUp();
    if (got == whole && t.lastStatus() == sumStatus(want)) return "";
    EXPECT_EQ(t.lastStatus(), resString(kStrTransferFailed));
    const JobResult job = t.ui.result();
    EXPECT_EQ(job.reason.rfind("no answer within ", 0), 0u) << job.reason;
    return job.step;
}

TEST_F(DrillTest, RandomBytesBetweenRepliesLeaveTheJobWhole) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(noisyJob(*this, seed, false), "");
    }
}

TEST_F(DrillTest, NoiseRunningIntoAReplyEndsTheJobAtThatStep) {
    // Seeds that spoil no reply, and those that spoil one (those that spoil the erase's reply
    // cost 180 s of clock).
    const std::pair<uint32_t, const char*> outcomes[] = {{6, ""},    {13, ""},       {15, "fws"},
                                                         {14, "fs"}, {32, "fs_end"}, {12, "sb"}};
    for (const auto& [seed, step] : outcomes) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(noisyJob(*this, seed, true), step);
    }
}

// ---- A device that answers late ----

// The exact edge of each time-out is shown on the manual clock; here whole jobs through the
// device, with the late answers far from the edges: a loaded machine can delay an answer by
// much, but not by seconds.
struct Late {
    const char* name;
    std::vector<std::string> lateAt;  // v3sim's --late-at values
    uint32_t scale;
    bool inTime;
};

// Test names in CTest show the case, not its bytes.
void PrintTo(const Late& l, std::ostream* os) { *os << l.name; }

struct LateDevice : DrillTest, ::testing::WithParamInterface<Late> {};

TEST_P(LateDevice, WholeJobWaitsForEachStepsOwnTimeOut) {
    const Late& late = GetParam();
    timeScale = late.scale;
    std::vector<std::string> args = {"--jobs", "1", "--erase-ms", "0"};
    for (const std::string& at : late.lateAt) args.insert(args.end(), {"--late-at", at});
    startDevice(args);
    useData(kSmallData);
    runJob();

    ExpectedJob want{kSmallData};
    expectChannelGivenUp();
    if (late.inTime) {
        EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
        EXPECT_EQ(lastStatus(), sumStatus(want));
        return;
    }
    EXPECT_EQ(lastStatus(), resString(kStrTransferFailed));
    EXPECT_EQ(sim.captured(), framed("FWS") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LateDevice,
    ::testing::Values(
        // Half of each 5 s time-out: 1.25 s of real time to spare.
        Late{"five_second_waits", {"fws:2500", "fs:2500", "fs_end:2500", "fwe:2500"}, 2, true},
        // Past every shorter time-out, well inside their own: 3 s and 29 s to spare.
        Late{"long_waits", {"erase:35000", "sb:15000"}, kJobTimeScale, true},
        // Four times the time-out: the tool gives up 3 s of real time before the answer.
        Late{"flash_mode_too_late", {"fws:20000"}, kJobTimeScale, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The adapter pulled out ----

struct Unplug {
    const char* name;
    std::vector<std::string> simArgs;
    const char* caption;     // of the box of the port error stop, as a pattern
    const char* lastStatus;  // the status line when the line went
};

// Far more than a pseudo-terminal holds, so that mid-data the line goes while the tool is still
// writing, however the two processes are scheduled.
const std::string kUnplugData = dataLines(4000);
constexpr size_t kUnplugDataBytes = 1000;

// What the device had received when the line went.
std::string receivedBeforeUnplug(const std::string& name) {
    ExpectedJob want{kUnplugData};
    if (name == "before_flash_mode") return framed("FWS") + "\r\n";
    if (name == "during_erase") return want.upToErase();
    if (name == "mid_data") return want.upToErase() + want.dataPart().substr(0, kUnplugDataBytes);
    return want.whole();
}

void PrintTo(const Unplug& u, std::ostream* os) { *os << u.name; }

struct Unplugged : DrillTest, ::testing::WithParamInterface<Unplug> {
    // In the death test's child: statuses and boxes go to stderr, where the parent reads them.
    void runUntilPortErrorStop() {
        HeadlessHooks& hooks = headlessHooks();
        hooks.onText = [this](Window ctl, const std::string& text) {
            if (ctl == dlgItem(ui.dlg, IDC_STATUS) && !text.empty())
                std::fprintf(stderr, "STATUS %s\n", text.c_str());
        };
        hooks.onMessageBox = [](Window, const std::string& text, const std::string& caption) {
            std::fprintf(stderr, "BOX %s|%s\n", caption.c_str(), text.c_str());
        };
        runJob();
    }
};

TEST_P(Unplugged, PortErrorStopEndsTheProgram) {
    const Unplug& u = GetParam();
    const std::string expected = receivedBeforeUnplug(u.name);

    // The desktop program: the port error stop ends it with status 0.
    startDevice(u.simArgs);
    useData(kUnplugData);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(runUntilPortErrorStop(), ::testing::ExitedWithCode(0),
                std::string("STATUS ") + u.lastStatus + "\nBOX " + u.caption + "\\|");
    EXPECT_TRUE(sameStream(sim.captured(), expected));
    EXPECT_EQ(sim.wait(5000), 0) << "the device did not hang up";

    // The command-line tool: the same stop, a failure status.
    startDevice(u.simArgs);
    ProgramResult r =
        runProgram({ZT_CLI_PATH, "write", "--port", sim.slavePath, "--data", dataFilePath},
                   {"ZEMTABULO_TIME_SCALE=" + std::to_string(timeScale)});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string("\\[") + u.caption + "\\] ")))
        << r.out;
    EXPECT_TRUE(sameStream(sim.captured(), expected));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, Unplugged,
    ::testing::Values(Unplug{"before_flash_mode", {"--hangup-at", "fws"}, "commGetc", "画面書込み"},
                      Unplug{"during_erase", {"--hangup-at", "erase"}, "commGetc", kEraseStarted},
                      // Mid-data the line's loss is seen by a write, or by the poll for a
                      // reply line between pieces, whichever comes first.
                      Unplug{"mid_data",
                             {"--hangup-after", std::to_string(kUnplugDataBytes)},
                             "comm(Putc|Getc)",
                             kDataPhase},
                      Unplug{"sum_wait", {"--hangup-at", "sb"}, "commGetc", "書き込み終了"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Bad data files ----

// Root reads any file whatever its mode. While one lives, the calling thread, and the threads
// it starts, do without that power, so that a file without read permission is one for them.
class NoReadOverride {
  public:
    NoReadOverride() {
        if (geteuid() != 0) {
            ok_ = true;
            return;
        }
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2];
        std::memcpy(lowered, saved_, sizeof lowered);
        lowered[0].effective &= ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH));
        ok_ = dropped_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~NoReadOverride() {
        if (dropped_) syscall(SYS_capset, &header_, saved_);
    }
    NoReadOverride(const NoReadOverride&) = delete;
    NoReadOverride& operator=(const NoReadOverride&) = delete;
    bool ok() const { return ok_; }

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool ok_ = false;
    bool dropped_ = false;
};

// The data file refused before anything is sent: the device keeps what it has.
void expectRefusedUnsent(DrillTest& t) {
    EXPECT_EQ(t.sim.captured(), "");
    EXPECT_EQ(t.rec.statuses, std::vector<std::string>{kBadData});
    EXPECT_EQ(t.ui.desk.job.written, 0);
    ASSERT_EQ(t.rec.boxes.size(), 1u);  // the end box only
    t.expectChannelGivenUp();
}

TEST_F(DrillTest, DataFileThatIsADirectory) {
    startDevice();
    dataFilePath = dir.path.string();
    runJob();
    expectRefusedUnsent(*this);
}

TEST_F(DrillTest, DataFileWithoutReadPermission) {
    startDevice();
    useData(kSmallData);
    ASSERT_EQ(chmod(dataFilePath.c_str(), 0), 0);
    NoReadOverride asUser;
    if (!asUser.ok()) GTEST_SKIP() << "running as root and cannot lower the capabilities";
    runJob();
    expectRefusedUnsent(*this);
}

TEST_F(DrillTest, NulByteIsRefusedBeforeTheDeviceIsErased) {
    const std::string data =
        "PAGE 1\nTEXT 0 0 \"a\"\nB 00" + std::string(1, '\0') + "FF\nENDPAGE\n";
    startDevice();
    useData(data);
    runJob();
    expectRefusedUnsent(*this);
    EXPECT_EQ(ui.result().reason, dataFilePath + ": a NUL byte at offset 24 (0x18)");
}

std::string binaryData(bool withNul) {
    std::minstd_rand random(7);
    std::string data;
    while (data.size() < 64 * 1024) {
        char c = char(random() % 256);
        if (c == '\x1a' || (c == '\0' && !withNul)) continue;
        data += c;
    }
    return data + "\n";  // the save's end must come on a line of its own
}

TEST_F(DrillTest, BinaryDataAndALineOfOneMegabyteGoThroughAsTheTextStreamReadsThem) {
    for (const std::string& data :
         {binaryData(false), "PAGE 1\nTEXT " + std::string(1 << 20, 'L') + "\nENDPAGE\n"}) {
        startDevice({"--jobs", "1"});
        useData(data);
        rec.forget();
        runJob();
        ExpectedJob want{data};
        EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
        EXPECT_EQ(lastStatus(), sumStatus(want));
        sim.stop();
    }
}

TEST_F(DrillTest, BinaryDataWithNulBytesIsRefusedAtTheFirst) {
    const std::string data = binaryData(true);
    startDevice();
    useData(data);
    runJob();
    expectRefusedUnsent(*this);
    const std::string reason = ui.result().reason;
    EXPECT_NE(reason.find("offset " + std::to_string(data.find('\0')) + " "), std::string::npos)
        << reason;
}

TEST_F(DrillTest, SparseFileOver4GiBScalesTheProgressBar) {
    // The data ends at its 0x1A; the hole after it only makes the file large.
    const std::string data = "PAGE 1\nTEXT 0 0 \"big\"\nENDPAGE\n\x1a";
    const off_t size = (off_t(1) << 32) + 4096;
    useData(data);
    ASSERT_EQ(truncate(dataFilePath.c_str(), size), 0);
    struct stat st {};
    ASSERT_EQ(stat(dataFilePath.c_str(), &st), 0);
    if (st.st_blocks * 512 > 1 << 20) GTEST_SKIP() << "the file system keeps no sparse files";

    std::vector<std::pair<int, int>> bar;  // (high, pos) while the range is the file's
    auto base = headlessHooks().onProgress;
    headlessHooks().onProgress = [&bar, base, this](Window w, int low, int high, int pos) {
        base(w, low, high, pos);
        std::lock_guard<std::mutex> lock(rec.m);
        bar.emplace_back(high, pos);
    };
    startDevice({"--jobs", "1"});
    runJob();

    ExpectedJob want{data};
    EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
    EXPECT_EQ(lastStatus(), sumStatus(want));
    const int scaledSize = int(size >> 2);  // the smallest shift that fits a signed 32 bits
    std::lock_guard<std::mutex> lock(rec.m);
    bool sawRange = false;
    for (const auto& [high, pos] : bar) {
        if (high != scaledSize) continue;
        sawRange = true;
        EXPECT_GE(pos, 0);
        EXPECT_LE(pos, high);
    }
    EXPECT_TRUE(sawRange);
}

TEST_F(DrillTest, NameWithSpacesAndJapaneseCharacters) {
    const std::filesystem::path folder = dir.path / "作業 フォルダ";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "画面 データ 第1版.v3").string();
    { std::ofstream(path, std::ios::binary) << kSmallData; }
    ExpectedJob want{kSmallData};

    startDevice({"--jobs", "1"});
    dataFilePath = path;
    runJob();
    EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
    EXPECT_EQ(lastStatus(), sumStatus(want));

    startDevice({"--jobs", "1"});
    ProgramResult r = runProgram({ZT_CLI_PATH, "write", "--port", sim.slavePath, "--data", path},
                                 {"ZEMTABULO_TIME_SCALE=" + std::to_string(timeScale)});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
}

// ---- Two programs on one port ----

// The first program waits for a long erase meanwhile.
const std::vector<std::string> kSlowErase = {"--jobs", "1", "--late-at", "erase:5000"};

TEST_F(DrillTest, SecondProgramIsRefusedWhileTheDesktopProgramWrites) {
    LockDir locks;
    startDevice(kSlowErase);
    useData(kSmallData);
    headlessClick(ui.dlg, IDC_START);
    ASSERT_TRUE(waitFor([this] { return statusSeen(kEraseStarted); }));

    ProgramResult second =
        runProgram({ZT_CLI_PATH, "write", "--port", sim.slavePath, "--data", dataFilePath},
                   {"ZEMTABULO_TIME_SCALE=" + std::to_string(timeScale)});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.out.find(jobtext::kPortUnusable), std::string::npos) << second.out;
    EXPECT_NE(second.err.find("another program"), std::string::npos) << second.err;
    // The refused program left the first one's lock alone.
    EXPECT_EQ(slurp(serialLockPath(sim.slavePath)), lockText(getpid()));

    std::unique_lock<std::mutex> lock(rec.m);
    ASSERT_TRUE(rec.cv.wait_for(lock, 30s, [this] { return rec.ended; }));
    lock.unlock();
    EXPECT_EQ(locks.listing(), "");
    ExpectedJob want{kSmallData};
    EXPECT_TRUE(sameStream(sim.captured(), want.whole()));
    EXPECT_EQ(lastStatus(), sumStatus(want));
}

TEST_F(DrillTest, DesktopProgramIsRefusedWhileTheCommandLineToolWrites) {
    startDevice(kSlowErase);
    useData(kSmallData);
    ProgramResult first;
    std::thread tool([&] {
        first = runProgram({ZT_CLI_PATH, "write", "--port", sim.slavePath, "--data", dataFilePath},
                           {"ZEMTABULO_TIME_SCALE=" + std::to_string(timeScale)});
    });
    const bool erasing = sim.received(device::kImageErase.text, 10000);
    if (erasing) runJob();
    tool.join();
    ASSERT_TRUE(erasing);

    EXPECT_EQ(rec.statuses, std::vector<std::string>(8, jobtext::kPortUnusable));
    ASSERT_EQ(rec.boxes.size(), 1u);  // the end announced at once
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(sim.captured(), ExpectedJob{kSmallData}.whole());
}

}  // namespace
