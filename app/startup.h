// Start-up: the port configuration file SCI.INI in the working directory, and the program's
// entry up to the main dialog.
#pragma once

#include <cstddef>
#include <string>

#include "serial/channel.h"

constexpr size_t kIniPathBufSize = 500;
// A working directory longer than this is refused at start-up.
constexpr size_t kMaxWorkDirLength = 400;
// SCI.INI: at most this many characters of its first line are read ...
constexpr size_t kIniLineRead = 8;
// ... and the port name is at most this long.
constexpr size_t kPortNameMax = 5;
// File chooser path buffers of the main dialog.
constexpr size_t kPathBufSize = 500;

extern std::string iniPath;
extern std::string portName;
// The V3 data file and the external character file; empty until chosen.
extern std::string dataFilePath;
extern std::string gaijiFilePath;
// The program's one channel.
extern Channel mainChannel;

// Reads the port name from SCI.INI at `path`. False when the file cannot be opened.
bool readPortName(const std::string& path, std::string& name);
// Writes `name` and a CR LF line end, replacing the file. False when it cannot be written.
bool writePortName(const std::string& path, const std::string& name);

enum class StartupResult { Ready, TooDeep, NoIniFile };

// Steps before the main dialog, for the working directory `workDir`: builds iniPath, reads
// portName from SCI.INI, or creates the file holding COM1.
StartupResult loadConfiguration(const std::string& workDir);

// The program: configuration, then the main dialog, modally. Returns the exit status, 0.
int zemtabuloMain();
