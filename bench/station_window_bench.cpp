// The station window, the real Qt one in this process, writing N devices at once into v3sim at
// the real line rate (3840 B/s), real clock; then zemtabulo-cli with N ports writing the same
// file into the same devices. Printed: the window process's own processor time (user + system
// of this process; the jobs are its children and not counted) as % of one core from 全台開始 to
// the last slot's end, its peak memory (VmHWM), that wall time and the CLI's, and their ratio.
//
//   station_window_bench [KB (default 200)] [slots (default 8)]
//   station_window_bench --shot FILE.png   8 slots: 4 started by hand (mid-write, done, a port
//                                          missing), 4 in auto mode (done, writing, waiting)
//   station_window_bench --size SLOTS      the window's size in pixels with that many slots
//
// Offscreen (QT_QPA_PLATFORM=offscreen) is fine for the figures; the shot wants a real X
// server for its fonts and style (xvfb-run).
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <array>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>

#include "app/station_window.h"
#include "bench_util.h"
#include "gui_driver.h"
#include "platform/qt/qt_ui.h"
#include "programs/desktop_qt.h"

namespace {

using namespace bench;

constexpr int kRunTimeoutMs = 600000;
constexpr const char* kRate = "3840";
const std::string kTitle = "ZemTabulo ステーション";

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

bool isStation(QWidget* w) {
    return w->windowTitle().toStdString() == kTitle;
}

// STATION.INI in the working directory: a slot per port, every sum expected to be 5A3C.
void writeIni(const std::vector<std::string>& ports, const std::string& data) {
    std::ofstream ini("STATION.INI", std::ios::binary);
    ini << "slots=" << ports.size() << "\r\ndata=" << data << "\r\nlog=log.csv\r\n";
    for (size_t i = 0; i < ports.size(); ++i)
        ini << "slot" << i + 1 << ".port=" << ports[i] << "\r\n";
}

std::string resultText(Window dlg, int slot) {
    return windowText(dlgItem(dlg, slotControlId(slot, kSlotResult)));
}

// The "NN%" a writing slot shows; -1 for any other text.
int percentShown(Window dlg, int slot) {
    const std::string text = resultText(dlg, slot);
    return !text.empty() && text.back() == '%' ? std::atoi(text.c_str()) : -1;
}

// Notes when each result field first shows its end (OK or NG), without polling: the window
// is measured, so nothing else of ours may run meanwhile.
class EndWatch : public QObject {
  public:
    EndWatch(Window dlg, int devices) : dlg_(dlg), left_(devices) {
        for (int s = 0; s < devices; ++s)
            qtWidget(dlgItem(dlg, slotControlId(s, kSlotResult)))->installEventFilter(this);
    }
    double lastEnd = 0, cpuAtEnd = 0;
    std::vector<std::string> results;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::DynamicPropertyChange) return false;
        const Window field = qtWindow(qobject_cast<QWidget*>(o));
        const std::string text = windowText(field);
        if (text.rfind("OK", 0) != 0 && text.rfind("NG", 0) != 0) return false;
        o->removeEventFilter(this);
        results.push_back(text);
        if (--left_ > 0) return false;
        lastEnd = now();
        cpuAtEnd = cpuSeconds();
        QTimer::singleShot(0, qApp, [dlg = dlg_] { endDialog(dlg, IDC_ST_EXIT); });
        return false;
    }

  private:
    Window dlg_;
    int left_;
};

struct WindowRun {
    double wall = 0, cpu = 0;
    long peakKb = 0;
    int ok = 0;
};

WindowRun runWindow(int devices) {
    WindowRun r;
    std::unique_ptr<EndWatch> watch;
    double t0 = 0, cpu0 = 0;
    gui::whenShown(isStation, [&](QWidget* w) {
        watch = std::make_unique<EndWatch>(qtWindow(w), devices);
        t0 = now();
        cpu0 = cpuSeconds();
        gui::click(qtWindow(w), IDC_ST_START_ALL);
    });
    stationMain({});
    if (!watch || watch->lastEnd == 0) return r;
    r.wall = watch->lastEnd - t0;
    r.cpu = watch->cpuAtEnd - cpu0;
    r.peakKb = bench::peakKb();
    for (const std::string& s : watch->results) r.ok += s.rfind("OK", 0) == 0;
    return r;
}

struct CliRun {
    double wall = 0;
    int status = -1;
};

CliRun runCli(const std::vector<std::string>& ports, const std::string& data) {
    std::vector<std::string> args = {binDir() + "/zemtabulo-cli", "write", "--data", data};
    for (const std::string& p : ports) args.insert(args.end(), {"--port", p});
    const int devNull = open("/dev/null", O_WRONLY);
    CliRun r;
    const double t0 = now();
    const pid_t pid = spawn(args, devNull);
    close(devNull);
    int st = 0;
    waitpid(pid, &st, 0);
    r.wall = now() - t0;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

int benchmark(size_t kb, int devices) {
    const std::string data = makeData("data.v3", kb * 1000);
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<std::string> ports;
    for (int i = 0; i < devices; ++i) {
        // Two jobs each: the window's, then the CLI's.
        sims.push_back(std::make_unique<Sim>(std::vector<std::string>{"--rate", kRate}, 2));
        ports.push_back(sims.back()->port);
    }
    writeIni(ports, data);
    const WindowRun w = runWindow(devices);
    const CliRun cli = runCli(ports, data);
    std::printf("%d devices x %zu KB at %s B/s through the station window: %d OK\n", devices, kb,
                kRate, w.ok);
    std::printf(
        "window process cpu (own, not its jobs): %.2f s = %.2f %% of one core over the writes "
        "(target <= 3 %%)\n",
        w.cpu, w.wall > 0 ? 100.0 * w.cpu / w.wall : 0.0);
    std::printf("window process peak memory: %.1f MB (VmHWM; target <= 100 MB)\n",
                w.peakKb / 1024.0);
    std::printf("wall, 全台開始 to the last slot's end: %.2f s\n", w.wall);
    std::printf("wall, zemtabulo-cli write with %d ports: %.2f s, exit %d\n", devices, cli.wall,
                cli.status);
    std::printf("window / CLI: %.3f (target <= 1.05)\n", cli.wall > 0 ? w.wall / cli.wall : 0.0);
    return w.ok == devices && cli.status == 0 ? 0 : 1;
}

// How each row of the shot is made.
enum class ShotRow {
    Slow,       // started by hand, a device at the line rate
    Fast,       // started by hand, an unthrottled device: done at once
    Missing,    // started by hand on a port that is not there
    AutoFast,   // armed, its device there from the start: done, waiting to be taken away
    AutoSlow,   // armed, its device plugged in while the window is open: writing
    AutoEmpty,  // armed, no device
};
constexpr ShotRow kShotRows[] = {ShotRow::Slow,     ShotRow::Slow,     ShotRow::Fast,
                                 ShotRow::Missing,  ShotRow::AutoFast, ShotRow::AutoSlow,
                                 ShotRow::AutoSlow, ShotRow::AutoEmpty};
constexpr int kShotSlots = int(std::size(kShotRows));

bool armed(ShotRow r) {
    return r == ShotRow::AutoFast || r == ShotRow::AutoSlow || r == ShotRow::AutoEmpty;
}

// The rows started by hand a few seconds apart, then the armed rows' devices plugged in as
// far apart, so that the rows stand at different points; the picture is taken when the first
// row is three quarters through.
int screenshot(const std::string& file) {
    constexpr int kStaggerMs = 3000;
    constexpr int kFirstSlotPercent = 75;
    const std::string data = makeData("data.v3", 200 * 1000);
    const std::vector<std::string> slow{"--sum", "5A3C", "--rate", kRate};
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<std::string> ports;
    // The armed rows' devices come and go as links, named as COM ports through COMPORTS.INI.
    std::ofstream comPorts("COMPORTS.INI", std::ios::binary);
    std::vector<std::string> links(kShotSlots);
    for (int i = 0; i < kShotSlots; ++i) {
        const ShotRow r = kShotRows[i];
        const std::string com = "COM" + std::to_string(i + 1);
        const std::string link = links[size_t(i)] =
            (std::filesystem::current_path() / ("dev" + std::to_string(i + 1))).string();
        if (armed(r)) comPorts << com << "=" << link << "\n";
        if (r == ShotRow::Missing) ports.push_back("/dev/ttyUSB7");
        if (r == ShotRow::AutoSlow || r == ShotRow::AutoEmpty) ports.push_back(com);
        if (r == ShotRow::Slow || r == ShotRow::Fast) {
            sims.push_back(std::make_unique<Sim>(
                r == ShotRow::Slow ? slow : std::vector<std::string>{"--sum", "5A3C"}));
            ports.push_back(sims.back()->port);
        }
        if (r == ShotRow::AutoFast) {
            // A second job it never gets: it stays in its socket after the first.
            sims.push_back(std::make_unique<Sim>(
                std::vector<std::string>{"--sum", "5A3C", "--link", link}, 2));
            ports.push_back(com);
        }
    }
    comPorts.close();
    writeIni(ports, data);
    std::ofstream ini("STATION.INI", std::ios::app | std::ios::binary);
    ini << "expect-sum=5A3C\r\n";
    for (int i = 0; i < kShotSlots; ++i)
        if (armed(kShotRows[i])) ini << "slot" << i + 1 << ".auto=1\r\n";
    ini.close();
    bool saved = false;
    gui::whenShown(isStation, [&](QWidget* w) {
        Window dlg = qtWindow(w);
        for (int s = 0; s < kShotSlots; ++s) {
            if (armed(kShotRows[s])) continue;
            gui::click(dlg, slotControlId(s, kSlotStart));
            gui::waitFor([] { return false; }, kStaggerMs);
        }
        for (int s = 0; s < kShotSlots; ++s) {
            if (kShotRows[s] != ShotRow::AutoSlow) continue;
            std::vector<std::string> plugged = slow;
            plugged.insert(plugged.end(), {"--link", links[size_t(s)]});
            sims.push_back(std::make_unique<Sim>(plugged));
            gui::waitFor([] { return false; }, kStaggerMs);
        }
        gui::waitFor([dlg] { return percentShown(dlg, 0) >= kFirstSlotPercent; }, kRunTimeoutMs);
        gui::waitFor([] { return false; }, 100);  // let the rows paint
        saved = w->grab().save(QString::fromStdString(file));
        std::printf("saved %s: %dx%d px\n", file.c_str(), w->width(), w->height());
        std::fflush(stdout);
        // Exit asks whether to stop the writes: yes.
        gui::whenShown(
            [](QWidget* box) { return qobject_cast<QMessageBox*>(box) != nullptr; },
            [](QWidget* box) {
                if (auto* yes = qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes))
                    yes->click();
            });
        gui::clickLater(dlg, IDC_ST_EXIT);
    });
    stationMain({});
    return saved ? 0 : 1;
}

int measureSize(int devices) {
    std::vector<std::string> ports(size_t(devices), "/dev/ttyUSB0");
    writeIni(ports, "data.v3");
    gui::whenShown(isStation, [&](QWidget* w) {
        const QRect screen = w->screen()->geometry();
        std::printf("%d slots: window %dx%d px, with frame %dx%d px, at %.0f dpi; screen %dx%d\n",
                    devices, w->width(), w->height(), w->frameGeometry().width(),
                    w->frameGeometry().height(), double(w->logicalDpiY()), screen.width(),
                    screen.height());
        endDialog(qtWindow(w), IDC_ST_EXIT);
    });
    stationMain({});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    unsetenv("ZEMTABULO_TIME_SCALE");  // the real clock: the figures are the line's
    setUpDesktopProgram();
    const std::string mode = argc > 1 ? argv[1] : "";
    // Taken before the working directory changes.
    const std::string shot =
        mode == "--shot" && argc > 2 ? std::filesystem::absolute(argv[2]).string() : "";
    const std::string dir = "/tmp/zt-station-window-bench-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int status;
    if (mode == "--shot")
        status = screenshot(shot);
    else if (mode == "--size")
        status = measureSize(argc > 2 ? atoi(argv[2]) : kMaxStationSlots);
    else
        status = benchmark(argc > 1 ? size_t(atol(argv[1])) : 200, argc > 2 ? atoi(argv[2]) : 8);
    std::fflush(stdout);
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
