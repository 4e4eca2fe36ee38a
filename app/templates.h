// Dialog templates of the program: the main dialog (129), Port settings (201), About (103).
#pragma once

#include "platform/ui.h"

enum DialogId : int { IDD_MAIN = 129, IDD_ABOUT = 103, IDD_PORT_SETTINGS = 201 };

// Controls of the small dialogs.
enum SmallDialogId : int {
    IDC_OK = 1,
    IDC_CANCEL = 2,
    IDC_PORT_LIST = 1039,
    IDC_ABOUT_LOGO = 137,
    IDC_ABOUT_NOTE = 1011,
};

extern const DialogTemplate kMainTemplate;
extern const DialogTemplate kPortSettingsTemplate;
extern const DialogTemplate kAboutTemplate;

// The logo bitmap resource of the About box.
constexpr int kLogoBitmapId = 137;
