// Start-up: the port configuration file SCI.INI in the working directory, and the program's
// entry up to the main dialog.
#pragma once

#include <cstddef>
#include <string>

#include "app/desktop.h"

constexpr size_t kIniPathBufSize = 500;
// A working directory longer than this is refused at start-up.
constexpr size_t kMaxWorkDirLength = 400;
// SCI.INI: at most this many characters of its first line are read ...
constexpr size_t kIniLineRead = 8;
// ... and the port name is at most this long.
constexpr size_t kPortNameMax = 5;

// Reads the port name from SCI.INI at `path`. False when the file cannot be opened.
bool readPortName(const std::string& path, std::string& name);
// Writes `name` and a CR LF line end, replacing the file. False when it cannot be written.
bool writePortName(const std::string& path, const std::string& name);

enum class StartupResult { Ready, TooDeep, NoIniFile };

// Where SCI.INI is and the port it names.
struct PortConfig {
    std::string iniPath;
    std::string portName;
};

// Steps before the main dialog, for the working directory `workDir`: builds the INI path,
// reads the port name from SCI.INI, or creates the file holding COM1.
StartupResult loadConfiguration(const std::string& workDir, PortConfig& out);

// The program: configuration, then the main dialog, modally, on `desktop`. Returns the exit
// status, 0.
int zemtabuloMain(Desktop& desktop);
