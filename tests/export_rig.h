// The main dialog with what the export meets around it, for the export tests on every platform.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "export/update_file.h"
#include "headless_main.h"
#include "temp_dir.h"

const std::string kDefaultTail = "WD bf07b 0\r\nROTATE 0\r\nWD bf075 1\r\n";

struct Box {
    Window owner;
    std::string text;
    std::string caption;
};

// The main dialog with what the export meets around it: message boxes are collected and the
// folder browser answers `folder` (the sub-folder "usb" of a fresh directory).
struct ExportRig {
    HeadlessMain main;
    // The files the operator chose.
    std::string& dataFilePath = main.desk.dataFilePath;
    std::string& gaijiFilePath = main.desk.gaijiFilePath;
    TempDir dir;
    std::vector<Box> boxes;
    std::string folder;
    std::string browseTitle;
    bool cancelBrowser = false;
    int browsed = 0;

    ExportRig() {
        folder = dir.file("usb");
        std::filesystem::create_directories(folder);
        HeadlessHooks hooks;
        hooks.onMessageBox = [this](Window owner, const std::string& text,
                                    const std::string& caption) {
            boxes.push_back({owner, text, caption});
        };
        hooks.onBrowseFolder = [this](std::string& chosen, const std::string& title) {
            ++browsed;
            browseTitle = title;
            if (cancelBrowser) return false;
            chosen = folder;
            return true;
        };
        headlessSetHooks(std::move(hooks));
    }

    void data(const std::string& bytes) { dataFilePath = dir.write("data.v3", bytes); }
    void run() {
        boxes.clear();
        headlessClick(main.dlg, IDC_EXPORT);
    }
    std::string usb(const std::string& name) const { return dir.file("usb/" + name); }
    std::string read(const std::string& name) const { return dir.read("usb/" + name); }
    void put(const std::string& name, const std::string& bytes) const {
        dir.write("usb/" + name, bytes);
    }
    std::vector<std::string> usbFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.file("usb")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool succeeded() const {
        return boxes.size() >= 1 && boxes.back().owner == nullptr &&
               boxes.back().text == kExportDoneText && boxes.back().caption.empty();
    }
    // The one box shown, a failure naming `file` and the system's reason for `err`.
    void expectFailure(const std::string& file, int err) const {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, main.dlg);
        EXPECT_EQ(boxes[0].caption, kExportCaption);
        EXPECT_NE(boxes[0].text.find(file), std::string::npos) << boxes[0].text;
        EXPECT_NE(boxes[0].text.find(std::strerror(err)), std::string::npos) << boxes[0].text;
    }
};
