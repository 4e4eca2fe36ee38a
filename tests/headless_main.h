// The main dialog on the headless controls, as the tests drive it, with the program's state
// of its own.
#pragma once

#include <mutex>
#include <string>

#include "app/desktop.h"
#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/headless/headless.h"

struct HeadlessMain {
    Desktop desk;
    Window dlg = nullptr;
    HeadlessMain() { dlg = headlessCreateDialog(kMainTemplate, mainDlgProc, &desk); }
    ~HeadlessMain() {
        headlessSetHooks({});
        headlessDestroy(dlg);
    }
    HeadlessMain(const HeadlessMain&) = delete;
    HeadlessMain& operator=(const HeadlessMain&) = delete;

    std::string status() const { return windowText(dlgItem(dlg, IDC_STATUS)); }
    void check(int id, bool on = true) { setButtonState(dlg, id, on ? kChecked : kUnchecked); }
    // How the last job ended.
    JobResult result() { return desk.job.lastResult(); }
};
