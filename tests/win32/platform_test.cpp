// The Win32 platform layer: port names, the serial channel on COM ports that tools/wine-tests.sh
// maps to the two ends of a pseudo-terminal link, reply waits, files, start-up limits and the
// lowest Windows version.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "job_observer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/win32/windows_version.h"
#include "temp_dir.h"
#include "writer/reply.h"

namespace {

// Two COM ports joined to each other, named by the environment; tests that need them are
// skipped without.
std::string linkedPort(const char* var) {
    const char* v = std::getenv(var);
    return v ? v : "";
}

// Virtual time that moves only when the code waits; each wait for input still blocks 1 ms of
// real time in the driver, as a wait on the scaled clock does.
std::atomic<uint32_t> g_now{0};

void installManualClock(uint32_t start) {
    g_now = start;
    setClockHooks(ClockHooks{
        [] { return g_now.load(); },
        [](uint32_t ms) { g_now += ms; },
        [](uint32_t) { return uint64_t(1000); },
        [](uint32_t ms) { g_now += ms; },
    });
}

struct LinkedPorts : ::testing::Test {
    Channel ch;    // the tool's end
    Channel peer;  // the device's end
    JobObserver quiet;
    JobResult result;
    JobContext job{ch, quiet, result};
    char buf[kReplyBufSize];

    void SetUp() override {
        const std::string a = linkedPort("ZT_TEST_COM"), b = linkedPort("ZT_TEST_PEER_COM");
        if (a.empty() || b.empty()) GTEST_SKIP() << "ZT_TEST_COM / ZT_TEST_PEER_COM not set";
        ASSERT_EQ(commOpen(a, &ch), 0) << a;
        ASSERT_EQ(commOpen(b, &peer), 0) << b;
    }
    void TearDown() override { useScaledClock(1, 0); }

    // Sends from the device's end and waits until all of it has arrived.
    void arrive(const std::string& bytes) {
        commPuts(bytes.c_str(), &peer);
        for (int i = 0; i < 2000; ++i) {
            DWORD errors = 0;
            COMSTAT st{};
            ClearCommError(reinterpret_cast<HANDLE>(ch.port.native()), &errors, &st);
            if (st.cbInQue >= bytes.size()) return;
            Sleep(1);
        }
        FAIL() << "bytes did not arrive";
    }
    std::string line(size_t len = kReplyBufSize) {
        const char* got = commReadLine(&ch, buf, len);
        return got ? std::string(got) : std::string("<null>");
    }
};

}  // namespace

TEST(PortName, FourCharactersOpenAsTheyAreOthersWithTheDevicePrefix) {
    EXPECT_EQ(portDeviceName("COM1"), "COM1");
    EXPECT_EQ(portDeviceName("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(portDeviceName("COM1 "), "\\\\.\\COM1 ");
    EXPECT_EQ(portDeviceName("COM123456789012"), "\\\\.\\COM123456789012");
    EXPECT_EQ(portDeviceName("COM1234567890123"), "");  // does not fit the 20-byte buffer
}

// Windows 10 version 1903 (build 18362) is the first to honour the UTF-8 code page.
TEST(WindowsVersion, From10Version1903On) {
    const struct {
        WindowsVersion v;
        bool supported;
    } cases[] = {
        {{6, 1, 7601}, false},   {{6, 3, 9600}, false},  {{10, 0, 17763}, false},
        {{10, 0, 18361}, false}, {{10, 0, 18362}, true}, {{10, 0, 22631}, true},
        {{10, 1, 0}, true},      {{11, 0, 0}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windowsVersionSupported(c.v), c.supported)
            << c.v.major << "." << c.v.minor << "." << c.v.build;
}

// The running system is told, whatever the manifest admits to.
TEST(WindowsVersion, RunningSystemIsTold) {
    WindowsVersion v;
    ASSERT_TRUE(runningWindowsVersion(v));
    EXPECT_GE(v.major, 6u);
    EXPECT_GT(v.build, 0u);
    EXPECT_EQ(runningOnSupportedWindows(), windowsVersionSupported(v));
}

TEST(CommOpen, AbsentOrHeldPortFailsAndChangesNothing) {
    Channel ch;
    ch.baudRate = 1234;
    EXPECT_NE(commOpen("COM250", &ch), 0);
    EXPECT_FALSE(ch.port.isOpen());
    failNextSerialOpens(1);
    EXPECT_EQ(commOpen("COM1", &ch), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ch.baudRate, 1234u);
}

TEST_F(LinkedPorts, OpensAt4800AndChangesOnlyTheSpeed) {
    EXPECT_EQ(ch.baudRate, 4800u);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    HANDLE h = reinterpret_cast<HANDLE>(ch.port.native());
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    const DCB before = dcb;
    ch.baudRate = 38400;
    commSetBaud(&ch);
    ASSERT_TRUE(GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 38400u);
    EXPECT_EQ(dcb.fOutxCtsFlow, before.fOutxCtsFlow);
    EXPECT_EQ(dcb.XonChar, before.XonChar);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
}

// The wait blocks until input arrives and hands the byte it took to the next read; reads never
// wait, not even with the wait's one-minute time-out left on the port.
TEST_F(LinkedPorts, WaitWakesOnInputAndReadsNeverWait) {
    commPuts("AB\r", &peer);
    ASSERT_EQ(serialWaitReadable(ch.port, 60000), WaitResult::Readable);
    EXPECT_EQ(serialWaitReadable(ch.port, 60000), WaitResult::Readable);  // it holds the "A"
    const DeviceCommand any{"", false, "", ReplyKind::AnyLine, "", 60000, ""};
    EXPECT_STREQ(waitReply(job, any, buf, sizeof buf), "AB");
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(commGetc(&ch), -1);
    EXPECT_EQ(line(), "<null>");
    EXPECT_EQ(buf[0], '\0');
    EXPECT_LT(GetTickCount64() - t0, 30000u);
}

TEST_F(LinkedPorts, RepliesAreGatheredIntoLines) {
    arrive("O");
    EXPECT_EQ(line(), "<null>");
    arrive("K\n\r");
    EXPECT_EQ(line(), "OK");
    arrive("\nA\nB\r\r");
    EXPECT_EQ(line(), "AB");
    EXPECT_EQ(line(), "");  // a lone CR is a completed, empty line
    arrive(std::string(250, 'x').substr(0, 200) + std::string(50, 'y') + "\r");
    EXPECT_EQ(line(), std::string(50, 'y'));
    arrive("\xff\002ab\r");  // octal: a hex escape would take the "ab"
    EXPECT_EQ(line(), "\xff\002ab");
}

TEST_F(LinkedPorts, ReplyWaitAcceptsItsLineAndTimesOutInVirtualTime) {
    installManualClock(0xFFFFFF00u);  // across the wrap of the tick count
    arrive("noise\rFlashRom Mode Start\r");
    DeviceCommand cmd{"FWS", true, "", ReplyKind::Prefix, "FlashRom Mode Start", 1000, "fws"};
    EXPECT_STREQ(waitReply(job, cmd, buf, sizeof buf), "FlashRom Mode Start");
    const uint32_t t0 = g_now;
    EXPECT_THROW(waitReply(job, cmd, buf, sizeof buf), WriteAborted);
    EXPECT_GT(uint32_t(g_now - t0), 1000u);
    EXPECT_LE(uint32_t(g_now - t0), 1000u + kPollSliceMs);
    EXPECT_FALSE(ch.port.isOpen());
}

TEST(Files, WorkingDirectoryFitsItsBufferOrIsRefused) {
    TempDir dir;
    dir.enter();
    const std::string cwd = workingDirectory(kIniPathBufSize);
    EXPECT_EQ(cwd, dir.path.string());
    EXPECT_EQ(workingDirectory(cwd.size()), "");  // no room for the NUL
    EXPECT_EQ(workingDirectory(cwd.size() + 1), cwd);
}

TEST(Files, ReplacementTakesTheFinalNameOnlyWhenCommitted) {
    TempDir dir;
    const std::string target = dir.write("v3update.dat", "old");
    {
        ReplacementFile f;
        ASSERT_EQ(f.open(target), 0);
        ASSERT_EQ(f.write("new\r\n", 5), 0);
    }
    EXPECT_EQ(dir.read("v3update.dat"), "old");
    ReplacementFile f;
    ASSERT_EQ(f.open(target), 0);
    const std::string big(kWriteBufSize + 10, 'b');
    ASSERT_EQ(f.write("x", 1), 0);
    ASSERT_EQ(f.write(big.data(), big.size()), 0);
    ASSERT_EQ(f.commit(), 0);
    EXPECT_EQ(dir.read("v3update.dat"), "x" + big);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
}

TEST(Files, InputFileReadsBytesAsTheyAreAndRefusesFolders) {
    TempDir dir;
    const std::string bytes("A\r\nB\x1a\n\0", 7);
    InputFile in;
    ASSERT_EQ(in.open(dir.write("d", bytes)), 0);
    EXPECT_EQ(in.size(), 7u);
    char buf[16];
    EXPECT_EQ(in.read(buf, sizeof buf), 7);
    EXPECT_EQ(std::string(buf, 7), bytes);
    EXPECT_EQ(in.read(buf, sizeof buf), 0);
    EXPECT_EQ(in.open(dir.path.string()), kErrIsFolder);
    EXPECT_EQ(in.open(dir.file("missing")), ERROR_FILE_NOT_FOUND);
}

TEST(Files, CopyReportsWhichSideFailed) {
    TempDir dir;
    const std::string glyphs("G\r\n\x1a\0\xff\n", 7);
    EXPECT_EQ(copyFileReplacing(dir.write("g.txt", glyphs), dir.file("v3gaiji.dat")).err, 0);
    EXPECT_EQ(dir.read("v3gaiji.dat"), glyphs);
    CopyResult r = copyFileReplacing(dir.file("none.txt"), dir.file("x.dat"));
    EXPECT_TRUE(r.atSource);
    EXPECT_EQ(r.err, ERROR_FILE_NOT_FOUND);
    r = copyFileReplacing(dir.file("g.txt"), dir.file("no\\such\\x.dat"));
    EXPECT_FALSE(r.atSource);
    EXPECT_NE(r.err, 0);
}

TEST(Files, SystemErrorTextIsTheSystemsOwnWithoutLineEnd) {
    const std::string text = systemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(systemErrorText(0x7fffff00).rfind("Error ", 0), 0u);
}

// A working directory of 400 characters is accepted, 401 refused, before any file is tried.
TEST(SciIni, WorkingDirectoryLimitIs400) {
    const std::string d400 = "C:\\" + std::string(397, 'd');
    PortConfig config;
    EXPECT_NE(loadConfiguration(d400, config), StartupResult::TooDeep);
    EXPECT_EQ(loadConfiguration(d400 + "d", config), StartupResult::TooDeep);
}

TEST(SciIni, PathUsesTheSystemsSeparator) {
    TempDir dir;
    PortConfig config;
    ASSERT_EQ(loadConfiguration(dir.path.string(), config), StartupResult::Ready);
    EXPECT_EQ(config.iniPath, dir.path.string() + "\\SCI.INI");
    ASSERT_EQ(loadConfiguration(dir.path.string() + "\\", config), StartupResult::Ready);
    EXPECT_EQ(config.iniPath, dir.path.string() + "\\SCI.INI");
}
