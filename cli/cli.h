// zemtabulo-cli: the dialog's commands run on the headless controls, filled from flags.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

struct CliOptions {
    std::vector<std::string> ports;  // COMn or device paths, one device each; none: SCI.INI
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
    bool json = false;        // events as JSON Lines on stdout, nothing else there
    bool slot = false;        // one port of a multi-port write: no start and done events
    std::string expectSum;    // the sum every device must give
    std::string log;          // the CSV record of every device
};


// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The headless main dialog with the options' boxes checked and the Line speed selected.
Window cliMainDialog(const CliOptions& opt);

int cliWrite(const CliOptions& opt);
// Several ports: one child process of the single-port write for each, supervised.
int cliWriteMany(const CliOptions& opt);
int cliExport(const CliOptions& opt);
int cliPorts();
