// The main dialog on the headless controls, as the tests drive it.
#pragma once

#include <string>

#include "app/dialogs.h"
#include "app/startup.h"
#include "app/templates.h"
#include "platform/headless/headless.h"
#include "writer/options.h"

struct HeadlessMain {
    Window dlg = nullptr;
    HeadlessMain() { dlg = headlessCreateDialog(kMainTemplate, mainDlgProc); }
    ~HeadlessMain() {
        headlessSetHooks({});
        headlessDestroy(dlg);
        mainDlg = nullptr;
    }
    HeadlessMain(const HeadlessMain&) = delete;
    HeadlessMain& operator=(const HeadlessMain&) = delete;

    std::string status() const { return windowText(dlgItem(dlg, IDC_STATUS)); }
    void check(int id, bool on = true) { setButtonState(dlg, id, on ? kChecked : kUnchecked); }
};
