// The export's update file on arbitrary data files and option settings: the file minus its
// settings lines is the data up to its first 0x1A, with every line end (LF or CR LF) written
// as CR LF, an unterminated last line ended, and nothing else changed. Data with a NUL byte
// before its 0x1A is refused, naming the offset of the first one, and writes nothing. The
// settings lines are those a table here gives for the option bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/dialogs.h"
#include "app/templates.h"
#include "export/update_file.h"
#include "fuzz/fuzz_util.h"
#include "platform/headless/headless.h"
#include "writer/options.h"

namespace {

// Bit i of the option bytes checks box i; bits 12 to 14 hold the Line speed entry plus one.
const int kOptionBoxes[] = {IDC_VERTICAL,      IDC_INVERT,         IDC_TRANSFER_SETTINGS,
                            IDC_STARTUP_CHECK, IDC_KEEP_SRAM,      IDC_LATIN,
                            IDC_RS422,         IDC_RESPONSE_CHECK, IDC_FLOW_CONTROL};
constexpr unsigned kTransferBit = 2, kSpeedShift = 12;

// The settings lines in their order, written out apart from the export: the option bit, the
// line with the bit clear and set, whether it goes only with the settings transfer, and
// whether the Line speed's value follows (no line without one).
const struct {
    unsigned bit;
    const char *off, *on;
    bool transfer, speed;
} kSettingsModel[] = {
    {0, "WD bf07b 0", "WD bf07b 1", false, false}, {1, "ROTATE 0", "ROTATE 1", false, false},
    {3, "WD bf07a 0", "WD bf07a 1", true, false},  {4, "WD bf07c 1", "WD bf07c 0", true, false},
    {5, "WD bf078 0", "WD bf078 1", true, false},  {6, "WD bf303 0", "WD bf303 1", true, false},
    {6, "WD bf304 ", "WD bf305 ", true, true},     {7, "WD bf306 0", "WD bf306 1", true, false},
    {8, "WD bf307 0", "WD bf307 1", true, false},  {0, "WD bf075 1", "WD bf075 1", false, false},
};
// The speed value for each Line speed entry plus one: none for no entry or one past the list.
const char* const kSpeedModel[] = {nullptr, "0", "64", "128", "192", nullptr, nullptr, nullptr};

std::string settingsModel(unsigned options) {
    const char* speed = kSpeedModel[options >> kSpeedShift & 7];
    std::string out;
    for (const auto& row : kSettingsModel) {
        if ((row.transfer && !(options >> kTransferBit & 1)) || (row.speed && !speed)) continue;
        out += std::string(options >> row.bit & 1 ? row.on : row.off) + (row.speed ? speed : "");
        out += "\r\n";
    }
    return out;
}

std::string g_folder;
std::string g_dest;

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
    headlessCreateDialog(kMainTemplate, mainDlgProc);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemFile file;
    if (size < 2) return 0;
    // The first two bytes set the option boxes and the Line speed entry.
    const unsigned options = unsigned(data[0]) | unsigned(data[1]) << 8;
    for (size_t i = 0; i < std::size(kOptionBoxes); ++i)
        setButtonState(mainDlg, kOptionBoxes[i], options >> i & 1 ? kChecked : kUnchecked);
    comboSetSel(dlgItem(mainDlg, IDC_LINE_SPEED), int(options >> kSpeedShift & 7) - 1);
    file.fill(data + 2, size - 2);
    unlink(g_dest.c_str());

    const ExportFault fault = writeUpdateFile(file.path(), g_dest, dlgItem(mainDlg, IDC_PROGRESS));
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
