// STATION.INI: what the station window keeps between runs, as UTF-8 "key=value" lines with
// CR LF ends. Read at start; written whole when a slot is started or armed, and at exit when
// the operator changed something.
#pragma once

#include <string>
#include <vector>

#include "station/auto_slot.h"
#include "writer/settings.h"

constexpr const char* kStationIniName = "STATION.INI";
constexpr const char* kDefaultLogName = "zemtabulo-log.csv";

struct StationSlotConfig {
    std::string name;
    std::string port;
    bool autoMode = false;  // armed at start: writes each device as it is plugged in
};

struct StationConfig {
    std::vector<StationSlotConfig> slots;  // 1 to 16
    std::string data;
    // Those of the settings table's rows that have a STATION.INI key; the others stay off.
    WriteSettings settings;
    std::string expectSum;
    bool firstSum = false;  // the first good device's sum becomes the expected one
    std::string log = kDefaultLogName;
    bool locked = false;
    int retries = 0;        // jobs run again after a failure a retry can mend, 0 to 9
    bool retrySum = false;  // a sum that differs or cannot be read is retried too
    std::string line;       // the line server's address; empty: the records stay in the log
    std::string lineTokenFile;
    bool unitRequired = false;  // unit=required: no slot starts without its unit id
    std::string unitPattern;    // unit-pattern=: what every unit id must match (ECMAScript)
    // How long an auto slot's device must stay (or stay away), 0 to 60000 ms.
    int debounceMs = int(kDefaultDebounce.count());
};

// `s` without the blanks and tabs around it, as values and fields are taken.
std::string trimmed(const std::string& s);

// The configuration of a station that has no STATION.INI yet: 4 slots "治具1".. on COM1...
StationConfig defaultStationConfig(int slots = 4);

// Parses the file's text. Lines that are not "key=value" with a known key and a valid value
// are left out and listed in `malformed` as "line N: text".
StationConfig parseStationIni(const std::string& text, std::vector<std::string>& malformed);
std::string formatStationIni(const StationConfig& config);

// Reads `path`; a missing file gives the defaults. False (with `err`, the system's error code)
// when the file is there but cannot be read.
bool readStationIni(const std::string& path, StationConfig& config,
                    std::vector<std::string>& malformed, int& err);
// Replaces `path` with the configuration. 0 on success, else the system's error code;
// kErrInvalidData, the file untouched, when a value holds a CR or LF.
int writeStationIni(const std::string& path, const StationConfig& config);
