// zemtabulo-cli station --auto as a line runs it: devices (v3sim) plugged in and pulled out by
// their links appearing and going, the events read back as they come, the log parsed back.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "csv_reader.h"
#include "job_fixture.h"
#include "platform/process.h"
#include "run_program.h"
#include "station/events.h"
#include "station/log.h"
#include "station/station_run.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";
// The devices' and the jobs' clock runs twice as fast (as the multi-port write's tests do).
const std::string kScale = "ZEMTABULO_TIME_SCALE=2";
// Bytes a 3840 B/s device takes seconds to read: the job is mid-data when its device goes.
constexpr size_t kSlowDataBytes = 64 * 1024;
// Bytes read from the station's output at a time.
constexpr size_t kReadSize = 4096;

// The station as a child process, its events gathered by a thread as they come.
class Station {
  public:
    Station(const std::vector<std::string>& args) {
        std::vector<std::string> argv{ZT_CLI_PATH, "station", "--auto", "--json"};
        argv.insert(argv.end(), args.begin(), args.end());
        started_ = cli_.start(argv, true) == 0;
        if (started_) reader_ = std::thread([this] { read(); });
    }
    ~Station() {
        if (started_ && !stopped_) stop(SIGTERM);
    }
    bool started() const { return started_; }

    // Waits until `nth` events match; the time the last came, or nullopt after `timeout`.
    std::optional<Clock::time_point> waitFor(const std::function<bool(const Json&)>& match,
                                             std::chrono::milliseconds timeout, int nth = 1) {
        std::unique_lock<std::mutex> g(lock_);
        std::optional<Clock::time_point> at;
        changed_.wait_for(g, timeout, [&] {
            int seen = 0;
            for (const auto& [t, e] : events_)
                if (match(e) && ++seen == nth) at = t;
            return at.has_value() || closed_;
        });
        return at;
    }
    std::optional<Clock::time_point> waitState(const std::string& port, const std::string& state,
                                               int nth = 1, std::chrono::milliseconds t = 5s) {
        return waitFor(
            [&](const Json& e) {
                return eventText(e, "port") == port && eventText(e, "state") == state;
            },
            t, nth);
    }
    std::optional<Clock::time_point> waitEnd(const std::string& port, int nth = 1,
                                             std::chrono::milliseconds t = 10s) {
        return waitFor(
            [&](const Json& e) {
                return eventText(e, "port") == port && eventText(e, "event") == "end";
            },
            t, nth);
    }
    // Events of `kind` (and `port`, unless empty) so far.
    std::vector<Json> all(const std::string& kind, const std::string& port = "") {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<Json> out;
        for (const auto& [t, e] : events_)
            if (eventText(e, "event") == kind && (port.empty() || eventText(e, "port") == port))
                out.push_back(e);
        return out;
    }
    // The signal, then the end of the output; the exit status.
    int stop(int signal) {
        stopped_ = true;
        kill(pid_t(cli_.id()), signal);
        reader_.join();
        return cli_.wait();
    }

  private:
    void read() {
        LineSplitter lines;
        char buf[kReadSize];
        long long n;
        while ((n = cli_.read(buf, sizeof buf)) > 0) {
            lines.feed(buf, size_t(n), [this](const std::string& line) {
                std::optional<Json> e = parseEvent(line);
                EXPECT_TRUE(e) << "not an event: " << line;
                std::lock_guard<std::mutex> g(lock_);
                if (e) events_.emplace_back(Clock::now(), *e);
                changed_.notify_all();
            });
        }
        std::lock_guard<std::mutex> g(lock_);
        closed_ = true;
        changed_.notify_all();
    }

    ChildProcess cli_;
    bool started_ = false, stopped_ = false;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::pair<Clock::time_point, Json>> events_;
    bool closed_ = false;
};

struct AutoStation : ::testing::Test {
    TempDir dir;
    std::string data, log, links;
    std::deque<SimProcess> sims;

    void SetUp() override {
        // The station's children inherit it; ChildProcess sets no environment of its own.
        putenv(const_cast<char*>(kScale.c_str()));
        data = dir.write("d.v3", kData);
        log = dir.file("log.csv");
        // Not made yet: the station watches its parent until udev (here, the test) makes it.
        links = dir.file("by-id");
    }
    std::string link(int i) const { return links + "/dev" + std::to_string(i); }
    std::vector<std::string> args(const std::vector<std::string>& ports,
                                  std::vector<std::string> more = {}) const {
        more.insert(more.end(), {"--data", data, "--log", log});
        for (const std::string& p : ports) more.insert(more.end(), {"--port", p});
        return more;
    }
    void TearDown() override { unsetenv("ZEMTABULO_TIME_SCALE"); }
    LogTable records() const {
        LogTable table;
        EXPECT_TRUE(table.parse(slurp(log)));
        return table;
    }
    SimProcess& plug(const std::vector<std::string>& simArgs) {
        sims.emplace_back();
        EXPECT_TRUE(sims.back().start(simArgs, {kScale}));
        return sims.back();
    }
};

TEST_F(AutoStation, EachInsertionIsOneJobAndOneRecord) {
    const std::string port = link(1);
    Station station(args({port}));
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(station.waitState(port, "waiting"));
    std::filesystem::create_directories(links);  // as udev makes it for the first device
    plug({"--link", port});
    ASSERT_TRUE(station.waitEnd(port)) << slurp(log);
    ASSERT_TRUE(station.waitState(port, "remove"));
    // Left in its socket, the device is not written again.
    std::this_thread::sleep_for(1000ms);
    EXPECT_EQ(station.all("end", port).size(), 1u);

    sims.back().stop();  // its link goes with it
    ASSERT_TRUE(station.waitState(port, "waiting", 2));
    plug({"--link", port});
    ASSERT_TRUE(station.waitEnd(port, 2));

    EXPECT_EQ(station.stop(SIGTERM), 130);
    const auto ends = station.all("end", port);
    ASSERT_EQ(ends.size(), 2u);
    for (const Json& e : ends) EXPECT_EQ(e["result"], "ok") << e.dump();
    const auto tally = station.all("tally", port);
    ASSERT_EQ(tally.size(), 1u);
    EXPECT_EQ(tally[0]["jobs"], 2);
    EXPECT_EQ(tally[0]["ok"], 2);
    const LogTable table = records();
    ASSERT_EQ(table.records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(table.at(i, "result"), "ok");

    // One id given at the start would be recorded for every device of the port.
    const ProgramResult unit = runProgram({ZT_CLI_PATH, "station", "--auto", "--port", port,
                                           "--data", data, "--unit", port + "=SN-1"});
    EXPECT_EQ(unit.status, 2);
    EXPECT_NE(unit.err.find("a unit id names one device"), std::string::npos) << unit.err;
}

TEST_F(AutoStation, FlappingLinkStartsNothingUntilItStays) {
    const std::string port = link(1);
    std::filesystem::create_directories(links);
    SimProcess& sim = plug({});
    Station station(args({port}));
    ASSERT_TRUE(station.waitState(port, "waiting"));
    // Five times in 300 ms, as a loose plug does.
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(symlink(sim.slavePath.c_str(), port.c_str()), 0);
        std::this_thread::sleep_for(30ms);
        ASSERT_EQ(unlink(port.c_str()), 0);
        std::this_thread::sleep_for(30ms);
    }
    ASSERT_EQ(symlink(sim.slavePath.c_str(), port.c_str()), 0);
    const auto stayed = Clock::now();
    const auto writing = station.waitState(port, "writing", 1, 5s);
    ASSERT_TRUE(writing);
    EXPECT_GE(*writing - stayed, kDefaultDebounce - 50ms);
    ASSERT_TRUE(station.waitEnd(port));
    EXPECT_EQ(station.stop(SIGINT), 130);
    EXPECT_EQ(station.all("end").size(), 1u);
    EXPECT_EQ(records().records.size(), 1u);
}

// Killed (its node goes, the link is left dangling) or its link removed while it still runs: the
// job ends failed within 2 s, recorded at its step, and the device named as left erased.
TEST_F(AutoStation, DeviceRemovedMidDataEndsFailedWithinTwoSeconds) {
    data = dir.write("big.v3", std::string(kSlowDataBytes, 'x') + "\n");
    std::filesystem::create_directories(links);
    for (const bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "killed" : "link removed");
        const std::string port = link(killed ? 1 : 2);
        Station station(args({port}));
        SimProcess& sim = plug({"--link", port, "--rate", "3840"});
        ASSERT_TRUE(station.waitFor(
            [&](const Json& e) {
                return eventText(e, "event") == "progress" && e.value("sent", 0) > 0;
            },
            10s));
        const auto removed = Clock::now();
        if (killed) {
            kill(sim.pid(), SIGKILL);
        } else {
            ASSERT_EQ(unlink(port.c_str()), 0);
        }
        const auto ended = station.waitEnd(port, 1, 3s);
        ASSERT_TRUE(ended);
        EXPECT_LT(*ended - removed, 2s);
        const Json end = station.all("end", port).at(0);
        EXPECT_EQ(end["result"], "failed");
        EXPECT_EQ(end["step"], "data");
        const std::string reason = end["reason"];
        EXPECT_EQ(reason.rfind(kRemovedReason, 0), 0u) << reason;
        EXPECT_NE(reason.find(kErasedReason), std::string::npos) << reason;
        EXPECT_EQ(station.stop(SIGTERM), 130);
        sim.stop();
        const LogTable table = records();
        ASSERT_FALSE(table.records.empty());
        const size_t last = table.records.size() - 1;
        EXPECT_EQ(table.at(last, "result"), "failed");
        EXPECT_EQ(table.at(last, "reason"), reason);
        EXPECT_EQ(table.at(last, "attempt"), "1");
    }
}

TEST_F(AutoStation, SixteenDevicesAppearingAtOnceAllStartWithinTwoSeconds) {
    constexpr int kSlots = 16;
    std::vector<std::string> ports;
    for (int i = 0; i < kSlots; ++i) {
        ports.push_back(link(i));
        plug({});
    }
    Station station(args(ports));
    for (const std::string& port : ports) ASSERT_TRUE(station.waitState(port, "waiting"));
    std::filesystem::create_directories(links);
    const auto appeared = Clock::now();
    for (int i = 0; i < kSlots; ++i)
        ASSERT_EQ(symlink(sims[size_t(i)].slavePath.c_str(), ports[size_t(i)].c_str()), 0);
    for (const std::string& port : ports) {
        const auto writing = station.waitState(port, "writing", 1, 3s);
        ASSERT_TRUE(writing) << port;
        EXPECT_LT(*writing - appeared, 2s * kSanitizerSlowdown) << port;
    }
    for (const std::string& port : ports) ASSERT_TRUE(station.waitEnd(port)) << port;
    EXPECT_EQ(station.stop(SIGTERM), 130);
    for (const std::string& port : ports) EXPECT_EQ(station.all("end", port).at(0)["result"], "ok");
    EXPECT_EQ(records().records.size(), size_t(kSlots));
}

}  // namespace
