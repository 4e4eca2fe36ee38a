// The desktop program with a driver attached, for bench/gui_bench.sh: the time from launch to
// the main dialog shown, and, with --data, a whole write into the device COM1 stands for
// (COMPORTS.INI of the working directory) and the peak memory of the process meanwhile.
// With --shot, the main dialog is saved as a PNG halfway through the data transfer; with
// --about, the About box.
//
//   zt_gui_bench [--data FILE] [--shot FILE.png] [--about FILE.png]
//
// ZT_BENCH_LAUNCH_NS (CLOCK_REALTIME nanoseconds at launch, as `date +%s%N` gives it) is the
// launch time; without it the process start time is taken from /proc.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/main_dialog_ids.h"
#include "app/startup.h"
#include "bench_util.h"
#include "gui_driver.h"
#include "platform/qt/qt_ui.h"
#include "programs/desktop_qt.h"

namespace {

constexpr int kJobTimeoutMs = 300000;

double nowRealtimeMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

// Launch time in CLOCK_REALTIME milliseconds.
double launchMs() {
    if (const char* ns = std::getenv("ZT_BENCH_LAUNCH_NS")) return std::strtod(ns, nullptr) / 1e6;
    // Field 22 of /proc/self/stat: start time in clock ticks since boot.
    std::ifstream stat("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) rest >> field;
    const double startSinceBoot = std::strtod(field.c_str(), nullptr) / sysconf(_SC_CLK_TCK);
    std::ifstream uptime("/proc/uptime");
    double up = 0;
    uptime >> up;
    return nowRealtimeMs() - (up - startSinceBoot) * 1000.0;
}

// Records the first paint of the main dialog.
class ShownWatch : public QObject {
  public:
    double shownAt = 0;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (shownAt == 0 && e->type() == QEvent::Paint && gui::mainDlg() && o == qtWidget(gui::mainDlg()))
            shownAt = nowRealtimeMs();
        return false;
    }
};

QMessageBox* boxWhere(bool (*match)(QMessageBox*)) {
    return qobject_cast<QMessageBox*>(gui::findShown([match](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && match(box);
    }));
}

bool isSumBox(QMessageBox* b) {
    return b->text().startsWith("データ sum=");
}
bool isEndBox(QMessageBox* b) {
    return b->windowTitle() == "ZemScrivana";
}

bool halfwayThroughData() {
    int low = 0, high = 0, pos = 0;
    qtProgress(dlgItem(gui::mainDlg(), IDC_PROGRESS), &low, &high, &pos);
    return high > 1000 && pos >= high / 2;
}

bool closeWhenShown(bool (*match)(QMessageBox*)) {
    if (!gui::waitFor([match] { return boxWhere(match) != nullptr; }, kJobTimeoutMs)) return false;
    boxWhere(match)->done(QMessageBox::Ok);
    return true;
}

// Chooses the data file, presses Start and answers both boxes; false when the job stalled.
bool runWrite(const std::string& data, const std::string& shot) {
    gui::whenShown([](QWidget* w) { return w->windowTitle() == "画面データの指定"; },
                   [data](QWidget* w) { gui::chooseFile(w, data); });
    gui::click(gui::mainDlg(), IDC_DATA_FILE);
    QElapsedTimer timer;
    timer.start();
    gui::click(gui::mainDlg(), IDC_START);
    if (!shot.empty() && gui::waitFor(halfwayThroughData, kJobTimeoutMs)) {
        gui::waitFor([] { return false; }, 50);  // let the bar and the status line paint
        qtWidget(gui::mainDlg())->grab().save(QString::fromStdString(shot));
    }
    if (!closeWhenShown(isSumBox) || !closeWhenShown(isEndBox)) return false;
    std::printf("write took %.1f s\n", timer.elapsed() / 1000.0);
    return gui::waitFor([] { return isWindowEnabled(dlgItem(gui::mainDlg(), IDC_START)); });
}

void saveAbout(const std::string& file) {
    gui::whenShown([](QWidget* w) { return w->windowTitle() == "ﾊﾞｰｼﾞｮﾝ情報"; },
                   [file](QWidget* w) {
                       gui::waitFor([] { return false; }, 50);
                       w->grab().save(QString::fromStdString(file));
                       endDialog(qtWindow(w), 1);
                   });
    gui::click(gui::mainDlg(), IDC_ABOUT);
}

}  // namespace

int main(int argc, char** argv) {
    const double launched = launchMs();
    QApplication app(argc, argv);
    std::string data, shot, about;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--data") data = argv[i + 1];
        if (opt == "--shot") shot = argv[i + 1];
        if (opt == "--about") about = argv[i + 1];
    }
    setUpDesktopProgram();
    ShownWatch watch;
    app.installEventFilter(&watch);
    bool ok = true;
    gui::runProgram([&] {
        gui::waitFor([&] { return watch.shownAt != 0; });
        std::printf("launch to shown: %.0f ms\n", watch.shownAt - launched);
        std::fflush(stdout);
        if (!about.empty()) saveAbout(about);
        if (!data.empty()) ok = runWrite(data, shot);
    });
    if (!data.empty()) std::printf("peak memory: %.1f MB\n", bench::peakKb() / 1024.0);
    std::fflush(stdout);
    qtLeaveProgram(ok ? 0 : 1);
}
