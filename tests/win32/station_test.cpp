// The station's device log on the Win32 backend: LockFileEx between handles, append-only
// writes, the last byte read back, SHA-256 from CNG.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/hash.h"
#include "platform/host.h"
#include "platform/serial.h"
#include "station/log.h"
#include "temp_dir.h"

namespace {

TEST(StationWin32, LogHeaderOnceAndTornLineEnded) {
    TempDir dir;
    LogRecord r;
    r.port = "COM3";
    r.reason = "a,b";
    const std::string line = logLine(r);
    {
        LogFile log;
        ASSERT_EQ(log.open(dir.file("log.csv")), 0);
        ASSERT_EQ(log.append(r), 0);
        ASSERT_EQ(log.append(r), 0);
    }
    const std::string header = kUtf8Bom + kLogHeader + "\r\n";
    EXPECT_EQ(dir.read("log.csv"), header + line + line);

    dir.write("torn.csv", header + "x,\"y");
    LogFile log;
    ASSERT_EQ(log.open(dir.file("torn.csv")), 0);
    ASSERT_EQ(log.append(r), 0);
    EXPECT_EQ(dir.read("torn.csv"), header + "x,\"y\"\r\n" + line);
    EXPECT_NE(LogFile().open(dir.path.string()), 0);
}

// Two handles on one file: the second append waits for the first and sees its bytes.
TEST(StationWin32, AppendsOnTwoHandlesTakeTurns) {
    TempDir dir;
    AppendFile a, b;
    ASSERT_EQ(a.open(dir.file("sizes")), 0);
    ASSERT_EQ(b.open(dir.file("sizes")), 0);
    auto appendSize = [](AppendFile& f) {
        return f.append([](uint64_t size, int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            return std::to_string(size) + "\n";
        });
    };
    int errA = -1;
    std::thread other([&] { errA = appendSize(a); });
    EXPECT_EQ(appendSize(b), 0);
    other.join();
    EXPECT_EQ(errA, 0);
    EXPECT_EQ(dir.read("sizes"), "0\n2\n");
}

TEST(StationWin32, Sha256HostAndDevice) {
    TempDir dir;
    std::string hex;
    uint64_t bytes = 0;
    ASSERT_EQ(sha256File(dir.write("abc", "abc"), hex, bytes), 0);
    EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(bytes, 3u);
    ASSERT_EQ(sha256File(dir.write("big", std::string(1000000, 'a')), hex, bytes), 0);
    EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(bytes, 1000000u);
    EXPECT_FALSE(hostName().empty());
    EXPECT_EQ(serialDeviceIdentity("COM3"), "COM3");
}

}  // namespace
