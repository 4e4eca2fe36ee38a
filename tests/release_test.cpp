// What an operator's copy of the programs shows and ignores: the version each program prints,
// and, in a build configured without ZT_TEST_HOOKS (this test's own copy of the clock and the
// lock files), the hooks tests steer the programs by.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_lock.h"
#include "run_program.h"
#include "zt_version.h"

static_assert(!ZT_TEST_HOOKS, "this test stands for a shipped build");

TEST(Version, TextIsTheProjectVersionAndTheCommit) {
    EXPECT_STREQ(kZtVersion, ZT_PROJECT_VERSION);
    const std::regex withCommit(std::string(ZT_PROJECT_VERSION) +
                                R"( \(git [0-9a-f]{7,40}(-dirty)?\))");
    if (ZT_FROM_GIT_CHECKOUT)
        EXPECT_TRUE(std::regex_match(kZtVersionText, withCommit)) << kZtVersionText;
    else
        EXPECT_STREQ(kZtVersionText, kZtVersion);
}

TEST(Version, EveryProgramPrintsItsNameAndVersionAndExits) {
    struct Case {
        const char* name;
        const char* path;
    };
    std::vector<Case> cases{{"zemtabulo-cli", ZT_CLI_PATH}, {"v3sim", V3SIM_PATH}};
#ifdef ZT_GUI_PATH
    cases.push_back({"zemtabulo", ZT_GUI_PATH});
#endif
    // No display of any kind: the desktop program must not need one for --version.
    const std::vector<std::string> noDisplay{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramResult r = runProgram({c.path, "--version"}, noDisplay);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::string(c.name) + " " + kZtVersionText + "\n");
    }
    const ProgramResult help = runProgram({ZT_CLI_PATH, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find(std::string("zemtabulo-cli ") + kZtVersionText), std::string::npos)
        << help.out;
}

// The settings that would make a three-minute erase wait take a fifth of a second, starting
// just before the tick count wraps.
TEST(ShippedBuild, IgnoresTheClockAndLockHooks) {
    setenv("ZEMTABULO_TIME_SCALE", "1000", 1);
    setenv("ZEMTABULO_TICK_OFFSET", "4294000000", 1);
    setenv("ZEMTABULO_LOCK_DIR", "/tmp/zt-not-the-lock-dir", 1);
    useClockFromEnvironment();
    EXPECT_EQ(clockHooks().realWaitUs(180000), 180000000u);
    EXPECT_LT(tickCount(), 600000u);  // ten minutes from the start, not the offset
    EXPECT_NE(serialLockDirectory(), "/tmp/zt-not-the-lock-dir");
}
