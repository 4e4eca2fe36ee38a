// The update file export: the V3 data file and the settings lines as v3update.dat in a folder
// the operator picks, with the external character file copied beside it as v3gaiji.dat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"
#include "writer/settings.h"

// The file choosers' path buffers: an input path that does not fit is refused, not cut.
constexpr size_t kPathBufSize = 500;

// The chosen folder and each destination name, NUL included: longer paths are refused.
constexpr size_t kFolderBufSize = 264;
constexpr size_t kDestBufSize = 264;
// The data file's text is copied a block at a time.
constexpr size_t kCopyBlockSize = 64 * 1024;

inline constexpr const char* kUpdateFileName = "v3update.dat";
inline constexpr const char* kGaijiFileName = "v3gaiji.dat";

inline constexpr const char* kExportCaption = "ZemScrivana";
inline constexpr const char* kNoDataText = "書き込みデータを指定してください";
inline constexpr const char* kNoGaijiText = "外字データを指定してください";
inline constexpr const char* kBrowseTitle = "データ書き出すUSBメモリを選択";
inline constexpr const char* kExportDoneText = "USBメモリ書込みが終了しました";

// What went wrong: what could not be done, to which file, and the system's error code (or,
// for a data file holding a NUL byte, where the first one is).
struct ExportFault {
    const char* what = nullptr;  // nullptr: nothing went wrong
    std::string file;
    int err = 0;
    int64_t nulAt = -1;  // offset in the data file on disk; -1 when not known or not the fault
    bool failed() const { return what != nullptr; }
};

// Input paths longer than the choosers could give are refused.
ExportFault checkInputPaths(const std::string& dataPath, const std::string& gaijiPath);

// The update file's and the external character file's names in the chosen folder, both
// checked against their buffers.
ExportFault exportDestinations(const std::string& folder, std::string& updateDest,
                               std::string& gaijiDest);

// Copies the external character file to `dest`, replacing it only when the copy is whole.
ExportFault copyGaiji(const std::string& gaijiPath, const std::string& dest);

// `folder` joined with `name`, with a separator unless the folder already ends with one.
std::string joinFolder(const std::string& folder, const char* name);

// Writes the update file `dest`: the data file's text with CR LF line ends, then the lines of
// `settings`. Drives the progress bar `progress` through the data file. A data file that holds a
// NUL byte or cannot be read to its end is refused before anything is written. The file at
// `dest` is replaced only when the new one is complete.
ExportFault writeUpdateFile(const std::string& dataPath, const std::string& dest,
                            const WriteSettings& settings, Window progress);

// The text of the message box that reports a fault.
std::string faultText(const ExportFault& fault);
