// zemtabulo-cli: the dialog's commands run on the headless controls, filled from flags.
#pragma once

#include <string>

#include "platform/ui.h"

struct CliOptions {
    std::string port;   // COMn or a device path; empty: SCI.INI
    std::string data;   // V3 data file
    std::string to;     // export folder
    std::string gaiji;  // external character file
    bool vertical = false;
    bool invert = false;
    bool transferSettings = false;
    bool startupCheck = false;
    bool keepSram = false;
    bool latin = false;
    bool rs422 = false;
    bool responseCheck = false;
    bool flowControl = false;
    bool skipBitmaps = false;
    bool transferGaiji = false;
    bool trace = false;
    int speed = 38400;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The headless main dialog with the options' boxes checked and the Line speed selected.
Window cliMainDialog(const CliOptions& opt);

int cliWrite(const CliOptions& opt);
int cliExport(const CliOptions& opt);
int cliPorts();
