// The export's update file on arbitrary data files and option settings: the file minus its
// settings lines is the data up to its first 0x1A, with every line end (LF or CR LF) written
// as CR LF, an unterminated last line ended, and nothing else changed. Data with a NUL byte
// before its 0x1A is refused, naming the offset of the first one, and writes nothing. The
// settings lines are those the model gives for the option bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/dialogs.h"
#include "app/settings_controls.h"
#include "app/templates.h"
#include "export/update_file.h"
#include "fuzz/fuzz_util.h"
#include "platform/headless/headless.h"
#include "tests/settings_model.h"

namespace {

std::string g_folder;
std::string g_dest;
Desktop g_desktop;
Window g_dlg = nullptr;  // the main dialog, its boxes set by the input

// Every LF as CR LF, and an unterminated last line ended.
std::string crLfModel(std::string text) {
    if (!text.empty() && text.back() != '\n') text += '\n';
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_folder = scratchFolder("export");
    g_dest = g_folder + "/" + kUpdateFileName;
    g_dlg = headlessCreateDialog(kMainTemplate, mainDlgProc, &g_desktop);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemFile file;
    if (size < 2) return 0;
    // The first two bytes set the option boxes and the Line speed entry.
    const unsigned options = unsigned(data[0]) | unsigned(data[1]) << 8;
    setOptions(g_dlg, options);
    file.fill(data + 2, size - 2);
    unlink(g_dest.c_str());

    const ExportFault fault = writeUpdateFile(file.path(), g_dest, settingsFromDialog(g_dlg),
                                              dlgItem(g_dlg, IDC_PROGRESS));
    const std::string raw(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t nul = raw.substr(0, raw.find('\x1a')).find('\0');
    if (nul != std::string::npos) {
        FUZZ_CHECK(fault.failed() && fault.nulAt == int64_t(nul));
        FUZZ_CHECK(std::filesystem::is_empty(g_folder));  // not even a temporary file
        return 0;
    }
    FUZZ_CHECK(!fault.failed());
    const std::string settings = settingsModel(options);
    const std::string written = slurp(g_dest);
    FUZZ_CHECK(written.size() >= settings.size());
    FUZZ_CHECK(written.compare(written.size() - settings.size(), settings.size(), settings) == 0);
    FUZZ_CHECK(written.substr(0, written.size() - settings.size()) ==
               crLfModel(textStreamModel(data + 2, size - 2)));
    return 0;
}
