// A whole write job as the operator runs it: the headless main dialog, the Start command,
// v3sim on a pseudo-terminal, everything in scaled (virtual) time.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "headless_main.h"
#include "platform/clock.h"
#include "sim_harness.h"
#include "temp_dir.h"
#include "writer/job.h"

// Virtual milliseconds per real one in job tests: a job's 5 s of pauses take 1 s, and a device
// has a whole real second for each 5 s reply even on a busy machine.
constexpr uint32_t kJobTimeScale = 5;

struct JobRecord {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> statuses;  // every non-empty status text, in order
    std::vector<std::string> boxes;     // "caption|text", "owner:" prefix when owned
    std::vector<std::string> sounds;
    int startDisabled = 0;
    int startEnabled = 0;
    int progressLow = 0, progressHigh = 0, progressPos = 0;
    bool ended = false;

    // Forgets the last job's texts, sounds and end, for the next job in the same test.
    void forget() {
        std::lock_guard<std::mutex> lock(m);
        statuses.clear(), boxes.clear(), sounds.clear(), ended = false;
    }
};

struct JobTest : ::testing::Test {
    TempDir dir;
    SimProcess sim;
    HeadlessMain ui;
    // The program's state the tests set: the port and the chosen data file.
    std::string& portName = ui.desk.portName;
    std::string& dataFilePath = ui.desk.dataFilePath;
    JobRecord rec;
    uint32_t timeScale = kJobTimeScale;

    void SetUp() override { installHooks(); }
    void TearDown() override {
        useScaledClock(1, 0);
        failNextSerialOpens(0);
    }

    void installHooks();
    // Starts the device with `args` in this test's virtual time; COM1 is mapped to it.
    void startDevice(const std::vector<std::string>& args = {"--jobs", "1"});
    // Chooses `content` as the V3 data file.
    void useData(const std::string& content);
    // Presses Start and waits until the watcher has enabled it again.
    void runJob();
    std::string lastStatus();
};

// Each text framed and ended by LF, as register writes and UC go out.
std::string registerLines(std::initializer_list<const char*> texts);
// The register lines of a job with the settings transfer off and the boxes unchecked.
extern const std::string kSettingsOff;

// What the device receives for a whole job, written independently of the product: the data
// part as LF lines from the file's bytes, the register lines as the test gives them.
struct ExpectedJob {
    std::string data;  // the file's bytes
    bool skipBitmaps = false;
    std::string settings = kSettingsOff;

    std::string dataPart() const;
    std::string upToErase() const;
    std::string whole() const;
};
