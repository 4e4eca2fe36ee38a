#include <gtest/gtest.h>

#include <vector>

#include "app/startup.h"
#include "headless_main.h"
#include "platform/resources.h"
#include "temp_dir.h"

namespace {

std::string portFrom(const TempDir& dir, const std::string& content) {
    dir.write("SCI.INI", content);
    PortConfig config;
    EXPECT_EQ(loadConfiguration(dir.path.string(), config), StartupResult::Ready);
    return config.portName;
}

#ifndef _WIN32
// A directory whose path is exactly `length` characters long.
std::string deepDir(const TempDir& base, size_t length) {
    std::string p = base.path.string();
    while (p.size() < length) {
        size_t step = std::min<size_t>(100, length - p.size());
        if (step == 1) step = 2;  // "/x" is the shortest step
        if (length - p.size() - step == 1) --step;
        p += "/" + std::string(step - 1, 'd');
    }
    std::filesystem::create_directories(p);
    return p;
}
#endif

}  // namespace

TEST(SciIni, FirstStartCreatesTheFileWithCom1) {
    TempDir dir;
    PortConfig config;
    EXPECT_EQ(loadConfiguration(dir.path.string(), config), StartupResult::Ready);
    EXPECT_EQ(config.portName, "COM1");
    EXPECT_EQ(config.iniPath, dir.file("SCI.INI"));
    EXPECT_EQ(dir.read("SCI.INI"), "COM1\r\n");
    config = {};
    EXPECT_EQ(loadConfiguration(dir.path.string(), config), StartupResult::Ready);
    EXPECT_EQ(config.portName, "COM1");
}

TEST(SciIni, FirstLineGivesAtMostFiveCharacters) {
    TempDir dir;
    EXPECT_EQ(portFrom(dir, "COM12\r\n"), "COM12");
    EXPECT_EQ(portFrom(dir, "COM1 \r\n"), "COM1 ");
    EXPECT_EQ(portFrom(dir, "COM7\n"), "COM7");  // LF only reads the same
    EXPECT_EQ(portFrom(dir, "COM3"), "COM3");    // no line end at all
    EXPECT_EQ(portFrom(dir, "COMMUNICATIONS\r\n"), "COMMU");
    EXPECT_EQ(portFrom(dir, "\r\nCOM2\r\n"), "");
    EXPECT_EQ(portFrom(dir, "COM4\r\nCOM5\r\n"), "COM4");
    EXPECT_EQ(portFrom(dir, ""), "");
}

// Windows keeps working directories within MAX_PATH; tests/win32 checks the limit there.
#ifndef _WIN32
TEST(SciIni, WorkingDirectoryOf400IsFine401IsTooDeep) {
    TempDir base;
    PortConfig config;
    EXPECT_EQ(loadConfiguration(deepDir(base, 400), config), StartupResult::Ready);
    EXPECT_EQ(loadConfiguration(deepDir(base, 401), config), StartupResult::TooDeep);
}

#endif

TEST(SciIni, NoFileAndNoWayToCreateOne) {
    PortConfig config;
    EXPECT_EQ(loadConfiguration("/nonexistent-zt/dir", config), StartupResult::NoIniFile);
}

#ifndef _WIN32
TEST(Startup, TooDeepShowsEntry11CaptionedEntry12AndEnds) {
    TempDir base;
    std::string deep = deepDir(base, 420);
    base.enter();
    std::filesystem::current_path(deep);
    std::vector<std::string> boxes;
    HeadlessHooks hooks;
    hooks.onMessageBox = [&](Window owner, const std::string& text, const std::string& caption) {
        EXPECT_EQ(owner, nullptr);
        boxes.push_back(caption + "|" + text);
    };
    bool dialogRan = false;
    hooks.onDialog = [&](Window) { dialogRan = true; };
    headlessSetHooks(hooks);
    Desktop desktop;
    EXPECT_EQ(zemtabuloMain(desktop), 0);
    headlessSetHooks({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ZemTabulo|Scrivanaがあるフォルダの階層が深すぎます");
    EXPECT_FALSE(dialogRan);
}

#endif

TEST(Startup, RunsTheMainDialogUntilExit) {
    TempDir dir;
    dir.enter();
    HeadlessHooks hooks;
    int shown = 0;
    hooks.onDialog = [&](Window dlg) {
        ++shown;
        EXPECT_EQ(windowText(dlg), "ZEM-7720PNLB4(V3モード)  TABULO Ver1.0.1");
        headlessClick(dlg, IDC_EXIT);
    };
    headlessSetHooks(hooks);
    Desktop desktop;
    EXPECT_EQ(zemtabuloMain(desktop), 0);
    headlessSetHooks({});
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(desktop.portName, "COM1");
    EXPECT_EQ(dir.read("SCI.INI"), "COM1\r\n");
}

TEST(PortSettings, OkWithNothingSelectedKeepsThePortAndTheFile) {
    TempDir dir;
    ASSERT_EQ(portFrom(dir, "LPT1\r\n"), "LPT1");  // begins no entry: nothing preselected
    HeadlessMain ui;
    ui.desk.portName = "LPT1";
    ui.desk.iniPath = dir.file("SCI.INI");
    int selected = 0, result = 0;
    bool ended = false;
    HeadlessHooks hooks;
    hooks.onDialog = [&](Window dlg) {
        selected = comboSel(dlgItem(dlg, IDC_PORT_LIST));
        headlessClick(dlg, IDC_OK);
        ended = headlessEnded(dlg, &result);
    };
    headlessSetHooks(hooks);
    headlessClick(ui.dlg, IDC_PORT_SETTINGS);
    EXPECT_EQ(selected, -1);
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, IDC_OK);
    EXPECT_EQ(ui.desk.portName, "LPT1");
    EXPECT_EQ(dir.read("SCI.INI"), "LPT1\r\n");
}

TEST(StringTable, EntriesByNumber) {
    EXPECT_EQ(resString(6), "ﾃﾞｰﾀ転送に失敗しました");
    EXPECT_EQ(resString(7), "\u3000");
    EXPECT_EQ(resString(13), "データファイルが未設定です");
    EXPECT_EQ(resString(0), "");
    EXPECT_EQ(resString(14), "");
}
