// The simulated device, driven by a scripted client that plays the tool's side of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sim_harness.h"
#include "temp_dir.h"
#include "writer/frame.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Device time runs 50 times faster: a 6 s late answer takes 120 ms.
constexpr int kScale = 50;
const std::vector<std::string> kScaled{"ZEMTABULO_TIME_SCALE=" + std::to_string(kScale)};
// Real ms a reply may take, and real ms of silence that count as no reply. Real time is checked
// only from below, which load cannot break, or against these waits, far above what is awaited.
constexpr int kReplyMs = 2000;
constexpr int kQuietMs = 150;
constexpr int kEndMs = 10000;

int msSince(Clock::time_point t) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The tool's side of the line, with plain POSIX calls: raw 8N1, reads that never wait.
class Client {
  public:
    ~Client() { close(); }

    bool open(const std::string& path) {
        close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) return false;
        cfmakeraw(&tio);
        cfsetspeed(&tio, B38400);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        return tcsetattr(fd_, TCSANOW, &tio) == 0;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        buffered_.clear();
        readOf_.clear();
    }

    void send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd pfd{fd_, POLLOUT, 0};
                poll(&pfd, 1, 100);
            } else {
                return;
            }
        }
    }

    // Writes what the line takes at once: the count, 0 when its writes are held.
    size_t sendSome(const std::string& bytes) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        return n > 0 ? size_t(n) : 0;
    }

    // The next line ended by CR, LFs dropped; nothing when none came within timeoutMs.
    std::optional<std::string> line(int timeoutMs = kReplyMs) {
        auto start = Clock::now();
        size_t cr;
        while ((cr = buffered_.find('\r')) == std::string::npos) {
            int left = timeoutMs - msSince(start);
            if (left <= 0 || !readSome(left)) return std::nullopt;
        }
        size_t first = std::min(buffered_.find_first_not_of('\n'), cr);
        readsOfLastLine = readOf_[cr] - readOf_[first] + 1;
        std::string out;
        for (size_t i = 0; i < cr; ++i)
            if (buffered_[i] != '\n') out += buffered_[i];
        buffered_.erase(0, cr + 1);
        readOf_.erase(readOf_.begin(), readOf_.begin() + long(cr) + 1);
        return out;
    }

    // The first line that begins with `awaited`; the lines before it go to `skipped`.
    std::optional<std::string> lineStartingWith(const std::string& awaited,
                                                std::vector<std::string>* skipped = nullptr) {
        while (std::optional<std::string> l = line()) {
            if (l->rfind(awaited, 0) == 0) return l;
            if (skipped) skipped->push_back(*l);
        }
        return std::nullopt;
    }

    // True when the line is hung up within timeoutMs: POLLHUP, or a read that fails.
    bool hungUp(int timeoutMs) {
        auto start = Clock::now();
        for (int left = timeoutMs; left > 0; left = timeoutMs - msSince(start)) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, left) < 0) return false;
            if (pfd.revents & (POLLHUP | POLLERR)) return true;
            char buf[256];
            if ((pfd.revents & POLLIN) && ::read(fd_, buf, sizeof buf) < 0 && errno != EAGAIN)
                return true;
        }
        return false;
    }

    int readsOfLastLine = 0;  // how many reads the last line came in
    int fd() const { return fd_; }

  private:
    bool readSome(int timeoutMs) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0 || !(pfd.revents & POLLIN)) return false;
        char buf[256];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) return n < 0 && errno == EAGAIN;
        ++reads_;
        buffered_.append(buf, size_t(n));
        readOf_.insert(readOf_.end(), size_t(n), reads_);
        return true;
    }

    int fd_ = -1;
    std::string buffered_;
    std::vector<int> readOf_;  // for each buffered byte, the read it came in
    int reads_ = 0;
};

// One exchange of a write job: what the tool sends and the reply it awaits, if any.
struct Exchange {
    std::string step;  // the v3sim step name; "" for sends that await nothing
    std::string sent;
    std::optional<std::string> awaited;  // the exact reply
};

std::vector<Exchange> jobScript(const std::string& data, const std::string& sum,
                                bool pageErase = false) {
    std::string registers = framed("WD bf07b 0") + "\n" + framed("WD bf075 1") + "\n";
    return {
        {"fws", framed("FWS") + "\r\n", "FlashRom Mode Start"},
        {"fs", "FS\n", "Data Save Start"},
        {"erase", pageErase ? "Fpageerase\n" : "Fimageerase\n",
         pageErase ? "PageData Erase End" : "Image Erase End"},
        {"", data, std::nullopt},
        {"fs_end", "Fs\n", "Data Save End"},
        {"fwe", "FWE\n", "FlashRom Mode End"},
        {"", registers + framed("UC") + "\n", std::nullopt},
        {"sb", framed("Sb") + "\r\n", framed(sum)},
    };
}

// Runs the script up to (not including) the step named `until`; every reply must come and be
// exactly the awaited one. Returns everything sent.
std::string runScript(Client& client, const std::vector<Exchange>& script,
                      const std::string& until = "") {
    std::string sent;
    for (const Exchange& e : script) {
        if (!until.empty() && e.step == until) break;
        client.send(e.sent);
        sent += e.sent;
        if (!e.awaited) continue;
        std::optional<std::string> reply = client.line();
        EXPECT_EQ(reply, e.awaited) << "at step " << e.step;
    }
    return sent;
}

// Flash-write mode, save start and erase: the device then takes data.
void openSave(Client& client) {
    std::vector<Exchange> script = jobScript("", "");
    script.resize(3);
    runScript(client, script);
}

const std::string kData =
    "BMP 0001 00ff00ff\r\nMEM 2\n" + std::string(150, 'x') + "\nPAGE 1\nEND\n";

// A device started on this test's clock, and the tool's end of its line.
struct SimDevice : ::testing::Test {
    SimProcess sim;
    Client client;
    bool open(const std::vector<std::string>& args, const std::vector<std::string>& env = kScaled) {
        return sim.start(args, env) && client.open(sim.slavePath);
    }
};

TEST_F(SimDevice, AnswersAWholeJobAndEndsAfterItsJobs) {
    ASSERT_TRUE(open({"--jobs", "1"}));
    std::string sent = runScript(client, jobScript(kData, simDataSum(kData)));
    EXPECT_EQ(sim.wait(kEndMs), 0);
    EXPECT_EQ(sim.captured(), sent);
}

TEST_F(SimDevice, SecondJobAfterReopeningReportsOnlyItsOwnData) {
    ASSERT_TRUE(open({"--jobs", "2"}));
    std::string sent = runScript(client, jobScript(kData, simDataSum(kData)));
    client.close();
    EXPECT_EQ(sim.wait(kQuietMs), -1) << "the device must outlive the port's close";

    const std::string pages = "PAGE 2\nTEXT hello\n";
    ASSERT_TRUE(client.open(sim.slavePath));
    sent += runScript(client, jobScript(pages, simDataSum(pages), true));
    EXPECT_EQ(sim.wait(kEndMs), 0);
    EXPECT_EQ(sim.captured(), sent);
}

TEST_F(SimDevice, AnUnfinishedSaveGivesWayToANewJob) {
    ASSERT_TRUE(open({}));
    runScript(client, jobScript("half a save\n", "0000"), "fs_end");
    client.close();
    ASSERT_TRUE(client.open(sim.slavePath));
    runScript(client, jobScript(kData, simDataSum(kData)));
}

TEST_F(SimDevice, ClosingThePortDropsUnreadRepliesAndExclusiveUse) {
    ASSERT_TRUE(open({"--late-at", "fs:10000"}));
    ASSERT_EQ(ioctl(client.fd(), TIOCEXCL), 0);
    // As a killed tool: exclusive use left set, the reply comes later. The empty line after
    // the command is taken once the device has done with the reply.
    client.send("FS\n\n");
    client.close();
    for (int ms = 0; ms < kReplyMs && sim.captured() != "FS\n\n"; ++ms) poll(nullptr, 0, 1);
    ASSERT_EQ(sim.captured(), "FS\n\n");

    ASSERT_TRUE(client.open(sim.slavePath));
    int exclusive = -1;
    ASSERT_EQ(ioctl(client.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    client.send(framed("FWS") + "\r\n");
    EXPECT_EQ(client.line(), "FlashRom Mode Start");
}

TEST_F(SimDevice, CommandsArrivingInPiecesAreAnswered) {
    ASSERT_TRUE(open({}));
    for (char c : framed("FWS") + "\r\n") {
        client.send(std::string(1, c));
        poll(nullptr, 0, 3);
    }
    EXPECT_EQ(client.line(), "FlashRom Mode Start");
    client.send("F");
    poll(nullptr, 0, 20);
    client.send("S\r\n");  // a CR before the LF is no part of the command
    EXPECT_EQ(client.line(), "Data Save Start");
}

TEST_F(SimDevice, FramesWithWrongCheckDigitsGetNoReply) {
    ASSERT_TRUE(open({}));
    client.send(
        "\x02"
        "FWS\x03"
        "43\r\n");
    EXPECT_EQ(client.line(kQuietMs), std::nullopt);
    client.send(framed("FWS") + "\r\n");
    EXPECT_EQ(client.line(), "FlashRom Mode Start");
}

TEST_F(SimDevice, RegisterRepliesAndAGivenSum) {
    ASSERT_TRUE(open({"--reply-registers", "--sum", "1234"}));
    client.send(framed("WD bf07b 1") + "\n");
    EXPECT_EQ(client.line(), "OK");
    client.send(framed("UC") + "\n");
    EXPECT_EQ(client.line(), "OK");
    client.send(framed("Sb") + "\r\n");
    EXPECT_EQ(client.line(),
              "\x02"
              "1234\x03"
              "04");
}

struct SilentStep : SimDevice, ::testing::WithParamInterface<const char*> {};

TEST_P(SilentStep, GetsNoReplyWhileTheStepsBeforeItAreAnswered) {
    const std::string step = GetParam();
    ASSERT_TRUE(open({"--silent-at", step}));
    std::vector<Exchange> script = jobScript(kData, simDataSum(kData));
    runScript(client, script, step);
    for (const Exchange& e : script)
        if (e.step == step) client.send(e.sent);
    EXPECT_EQ(client.line(kQuietMs), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(EachStep, SilentStep,
                         ::testing::Values("fws", "fs", "erase", "fs_end", "fwe", "sb"));

TEST_F(SimDevice, LateAnswerAndEraseTakeTheirTimeInScaledClock) {
    ASSERT_TRUE(open({"--late-at", "fs:6000", "--erase-ms", "10000"}));
    client.send(framed("FWS") + "\r\n");
    EXPECT_EQ(client.line(), "FlashRom Mode Start");

    // Unscaled, the 6 s would outlast the reply wait.
    auto t = Clock::now();
    client.send("FS\n");
    EXPECT_EQ(client.line(), "Data Save Start");
    EXPECT_GE(msSince(t), 6000 / kScale - 10);

    t = Clock::now();
    client.send("Fpageerase\n");
    EXPECT_EQ(client.line(), "PageData Erase End");
    EXPECT_GE(msSince(t), 10000 / kScale - 10);
}

TEST_F(SimDevice, NoiseAndSplitRepliesStillCarryEachReplyWhole) {
    ASSERT_TRUE(open({"--noise", "--noise-bytes", "--split"}));
    for (const Exchange& e : jobScript(kData, simDataSum(kData))) {
        client.send(e.sent);
        if (!e.awaited) continue;
        std::vector<std::string> skipped;
        std::optional<std::string> reply = client.lineStartingWith(*e.awaited, &skipped);
        EXPECT_EQ(reply, e.awaited) << "at step " << e.step;
        EXPECT_GE(client.readsOfLastLine, 2) << "at step " << e.step;
        EXPECT_FALSE(skipped.empty()) << "at step " << e.step;
        for (const std::string& noise : skipped) {
            EXPECT_NE(noise.rfind(*e.awaited, 0), 0u) << "noise passes for the reply";
            EXPECT_TRUE(noise.empty() || noise[0] != '\x02') << "noise passes for a frame";
        }
    }
}

std::string sumReplyWith(const std::vector<std::string>& args) {
    SimProcess sim;
    if (!sim.start(args, kScaled)) return "(no device)";
    Client client;
    if (!client.open(sim.slavePath)) return "(no line)";
    client.send(framed("Sb") + "\r\n");
    return client.line().value_or("(no reply)");
}

TEST_F(SimDevice, SumFaultsSpoilOnlyWhatTheyName) {
    char text[kFrameTextSize];
    std::string bad = sumReplyWith({"--sum", "1234", "--bad-sum"});
    EXPECT_EQ(bad.substr(0, 6),
              "\x02"
              "1234\x03");
    EXPECT_EQ(frameParse(bad.c_str(), text), nullptr);

    // "Z1" has the check digits 6b: upper case makes them differ.
    std::string upper = sumReplyWith({"--sum", "Z1", "--upper-sum"});
    EXPECT_EQ(upper,
              "\x02"
              "Z1\x03"
              "6B");

    std::string longSum = sumReplyWith({"--sum", "1234", "--long-sum"});
    EXPECT_GT(longSum.size(), 19u);
    ASSERT_NE(frameParse(longSum.c_str(), text), nullptr);
    EXPECT_TRUE(std::string(text).ends_with("1234"));

    EXPECT_EQ(sumReplyWith({}), framed("0000"));  // nothing saved yet
}

TEST_F(SimDevice, HangsTheLineUpAfterTheGivenDataBytes) {
    ASSERT_TRUE(open({"--hangup-after", "100"}));
    openSave(client);
    EXPECT_FALSE(client.hungUp(kQuietMs)) << "not before the data phase";
    client.send(std::string(300, 'd') + "\n");
    EXPECT_TRUE(client.hungUp(kReplyMs));
    EXPECT_EQ(sim.wait(kEndMs), 0);
}

TEST_F(SimDevice, RateSlowsTheReadingDown) {
    // 3 x 3840 bytes at 3840 B/s are 3 s of device time: 300 ms at scale 10 (less a burst of at
    // most 614 bytes), and past the reply wait on a device that ignored the scale.
    ASSERT_TRUE(open({"--rate", "3840"}, {"ZEMTABULO_TIME_SCALE=10"}));
    openSave(client);
    auto t = Clock::now();
    client.send(std::string(3 * 3840 - 1, 'r') + "\nFs\n");
    EXPECT_EQ(client.line(), "Data Save End");
    EXPECT_GE(msSince(t), 250);
}

TEST_F(SimDevice, RateHoldsTheToolsWritesOnceTheLineIsFull) {
    // A byte a second of device time: once held, the line stays shut for seconds.
    ASSERT_TRUE(open({"--rate", "1"}));
    openSave(client);
    // Pieces as the tool writes them, each given a moment to be read, until the line stays shut:
    // a pseudo-terminal that is only full (some 20 to 64 KiB) opens as soon as the device reads.
    const std::string piece = std::string(98, 'p') + "\n";
    constexpr size_t kNeverHeld = 1 << 17;
    size_t sent = 0;
    for (pollfd out{client.fd(), POLLOUT, 0}; sent < kNeverHeld; poll(nullptr, 0, 1)) {
        const size_t n = client.sendSome(piece);
        sent += n;
        if (n == piece.size()) continue;
        if (poll(&out, 1, kQuietMs) == 0 || (out.revents & (POLLHUP | POLLERR))) break;
    }
    EXPECT_LT(sent, kNeverHeld) << "the tool's writes were never held";
    EXPECT_GE(sent, 3000u) << "held before 3000 bytes waited";
}

TEST_F(SimDevice, LinkPointsAtTheDeviceAndGoesAwayAtTheEnd) {
    TempDir dir;
    fs::path link = dir.path / "v3dev";
    fs::create_symlink("/nonexistent", link);  // a stale link of an earlier run is replaced
    ASSERT_TRUE(sim.start({"--link", link.string()}, kScaled));
    EXPECT_EQ(fs::read_symlink(link), sim.slavePath);
    ASSERT_TRUE(client.open(link.string()));
    client.send(framed("FWS") + "\r\n");
    EXPECT_EQ(client.line(), "FlashRom Mode Start");
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    fs::path file = dir.path / "file";
    { std::ofstream(file) << "mine"; }
    EXPECT_FALSE(sim.start({"--link", file.string()}, kScaled));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
}

TEST_F(SimDevice, EndsAfterItsIdleTime) {
    const auto t = Clock::now();
    ASSERT_TRUE(sim.start({"--idle", "0.2"}, kScaled));  // real seconds, not scaled
    EXPECT_EQ(sim.wait(kEndMs), 0);
    EXPECT_GE(msSince(t), 200);
}

}  // namespace
