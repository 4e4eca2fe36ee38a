// zemtabulo-cli: the write job run directly, the export on the headless main dialog; the
// settings from flags.
#pragma once

#include <string>
#include <vector>

#include "writer/settings.h"

struct CliOptions {
    std::vector<std::string> ports;  // COMn or device paths, one device each; none: SCI.INI
    std::string data;                // V3 data file
    std::string to;                  // export folder
    std::string gaiji;               // external character file
    WriteSettings settings;          // its Line speed from `speed`
    int speed = 38400;
    bool trace = false;
    bool json = false;       // events as JSON Lines on stdout, nothing else there
    bool slot = false;       // one port of a multi-port write: no start and done events
    std::string expectSum;   // the sum every device must give
    std::string log;         // the CSV record of every device
    std::string dataSha256;  // the data file's digest as a slot's parent took it (lowercase)
    std::string recordId;    // the id of a slot's record, made by its parent
    int attempt = 1;         // a slot's attempt at its device, as its parent counts
    int retries = 0;         // jobs run again after a failure a retry can mend
    bool retrySum = false;   // a sum that differs or cannot be read is retried too
    bool autoStart = false;  // station: each slot starts when its device is plugged in
    int debounceMs = 500;    // station: how long a device must stay before its job starts
    std::vector<std::string> units;  // PORT=ID: the unit id of the device on that port
    std::string unitPattern;         // what every unit id must match (ECMAScript, whole)
    bool unitRequired = false;       // a port without a unit id is refused
    bool rework = false;             // a unit recorded ok before may be written again
    std::string line;                // the line server's address: the log's records are sent there
    std::string lineTokenFile;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int cliWrite(const CliOptions& opt);
// Several ports: one child process of the single-port write for each, supervised.
int cliWriteMany(const CliOptions& opt);
// A long-running station: each port's device written as it is plugged in, until an interrupt.
int cliStation(const CliOptions& opt);
int cliExport(const CliOptions& opt);
int cliPorts();
// Sends the log's records the line server has not acknowledged yet.
int cliSend(const CliOptions& opt);
