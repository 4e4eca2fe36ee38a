// Update file export against cp: a 50 MB V3 data file of short CR LF lines, exported through
// the headless main dialog (temporary file, sync, rename included) and copied with cp into
// the same folder, alternately, several rounds; cp followed by an fsync of the copy as well,
// since the export syncs. Prints the best time of each and the ratios, and the time of the data
// check (the read before the copy that refuses a file with a NUL byte) as a share of the export.
// Usage: export_bench [folder (default: a fresh one under $TMPDIR or /tmp)] [MB (default 50)]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/dialogs.h"
#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "app/templates.h"
#include "export/update_file.h"
#include "platform/headless/headless.h"
#include "writer/text_stream.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 5;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void makeDataFile(const std::string& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    char line[64];
    for (size_t written = 0, n = 0; written < bytes; ++n) {
        const int len = std::snprintf(line, sizeof line, "D %07zu 0123456789ABCDEF\r\n", n);
        out.write(line, len);
        written += size_t(len);
    }
}

double timeCp(const std::string& from, const std::string& to) {
    const double t0 = now();
    pid_t pid;
    char* argv[] = {const_cast<char*>("cp"), const_cast<char*>(from.c_str()),
                    const_cast<char*>(to.c_str()), nullptr};
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? now() - t0 : -1;
}

// cp, then the copy synced: the export syncs its file before the rename, cp does not.
double timeCpSync(const std::string& from, const std::string& to) {
    const double t0 = now();
    if (timeCp(from, to) < 0) return -1;
    const int fd = open(to.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return synced ? now() - t0 : -1;
}

// The export's first read of the data file, on its own.
double timeCheck(const std::string& data) {
    const double t0 = now();
    return checkDataFile(data).ok() ? now() - t0 : -1;
}

double timeExport(Window dlg) {
    const double t0 = now();
    headlessClick(dlg, IDC_EXPORT);
    return now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    if (argc > 1 && argv[1][0] != '\0') {  // an empty folder would mean the root
        folder = argv[1];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zt-export-bench-XXXXXX";
        if (!mkdtemp(tmpl.data())) return 1;
        folder = tmpl;
    }
    const size_t mb = argc > 2 ? size_t(std::atol(argv[2])) : 50;
    const std::string data = folder + "/data.v3";
    makeDataFile(data, mb * 1000 * 1000);

    bool ok = true;
    HeadlessHooks hooks;
    hooks.onBrowseFolder = [&folder](std::string& chosen, const std::string&) {
        chosen = folder;
        return true;
    };
    hooks.onMessageBox = [&ok](Window, const std::string& text, const std::string&) {
        if (text != kExportDoneText) {
            std::printf("export failed: %s\n", text.c_str());
            ok = false;
        }
    };
    headlessSetHooks(std::move(hooks));
    Desktop desktop;
    Window dlg = headlessCreateDialog(kMainTemplate, mainDlgProc, &desktop);
    desktop.dataFilePath = data;

    double bestCp = 1e9, bestCpSync = 1e9, bestExport = 1e9, bestCheck = 1e9;
    for (int i = 0; i < kRounds && ok; ++i) {
        const double c = timeCp(data, folder + "/copy.dat");
        const double cs = timeCpSync(data, folder + "/copy-synced.dat");
        if (c < 0 || cs < 0) {
            std::printf("cp failed\n");
            ok = false;
        }
        const double e = timeExport(dlg);
        const double k = timeCheck(data);
        if (k < 0) {
            std::printf("data check failed\n");
            ok = false;
        }
        std::printf("round %d: cp %.3f s, cp+fsync %.3f s, export %.3f s, check %.3f s\n", i + 1, c,
                    cs, e, k);
        bestCheck = std::min(bestCheck, k);
        bestCp = std::min(bestCp, c);
        bestCpSync = std::min(bestCpSync, cs);
        bestExport = std::min(bestExport, e);
    }
    const auto size = fs::file_size(data);
    const std::string update = folder + "/" + kUpdateFileName;
    const auto out = fs::exists(update) ? fs::file_size(update) : 0;
    headlessDestroy(dlg);
    if (argc <= 1 || argv[1][0] == '\0') fs::remove_all(folder);
    if (!ok) return 1;
    std::printf("data file %llu bytes, update file %llu bytes\n", (unsigned long long)size,
                (unsigned long long)out);
    std::printf("best: cp %.3f s, cp+fsync %.3f s, export %.3f s\n", bestCp, bestCpSync,
                bestExport);
    std::printf("ratio export/cp %.2f (target <= 3), export/(cp+fsync) %.2f\n",
                bestExport / bestCp, bestExport / bestCpSync);
    std::printf("data check %.3f s = %.1f %% of the export (target < 5 %%)\n", bestCheck,
                100.0 * bestCheck / bestExport);
    return 0;
}
