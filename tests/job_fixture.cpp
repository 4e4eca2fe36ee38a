#include "job_fixture.h"

#include <chrono>

namespace {

bool beginsPageSection(const std::string& piece) {
    return piece.rfind("ET2", 0) == 0 || piece.rfind("MEM", 0) == 0 || piece.rfind("PAG", 0) == 0;
}

}  // namespace

std::string registerLines(std::initializer_list<const char*> texts) {
    std::string out;
    for (const char* t : texts) out += framed(t) + "\n";
    return out;
}

const std::string kSettingsOff = registerLines({"WD bf07b 0", "WD bf075 1", "UC"});

void JobTest::installHooks() {
    HeadlessHooks hooks;
    hooks.onText = [this](Window ctl, const std::string& text) {
        if (ctl != dlgItem(ui.dlg, IDC_STATUS) || text.empty()) return;
        std::lock_guard<std::mutex> lock(rec.m);
        rec.statuses.push_back(text);
    };
    hooks.onMessageBox = [this](Window owner, const std::string& text, const std::string& cap) {
        std::lock_guard<std::mutex> lock(rec.m);
        rec.boxes.push_back(std::string(owner ? "owner:" : "") + cap + "|" + text);
    };
    hooks.onSound = [this](const std::string& file) {
        std::lock_guard<std::mutex> lock(rec.m);
        rec.sounds.push_back(file);
    };
    hooks.onProgress = [this](Window, int low, int high, int pos) {
        std::lock_guard<std::mutex> lock(rec.m);
        rec.progressLow = low;
        rec.progressHigh = high;
        rec.progressPos = pos;
    };
    hooks.onEnable = [this](Window ctl, bool on) {
        if (ctl != dlgItem(ui.dlg, IDC_START)) return;
        std::lock_guard<std::mutex> lock(rec.m);
        (on ? rec.startEnabled : rec.startDisabled)++;
        if (on) rec.ended = true;
        rec.cv.notify_all();
    };
    headlessSetHooks(hooks);
}

void JobTest::startDevice(const std::vector<std::string>& args) {
    useScaledClock(timeScale, 0);
    ASSERT_TRUE(sim.start(args, {"ZEMTABULO_TIME_SCALE=" + std::to_string(timeScale)}));
    portName = sim.slavePath;
}

void JobTest::useData(const std::string& content) { dataFilePath = dir.write("data.v3", content); }

void JobTest::runJob() {
    headlessClick(ui.dlg, IDC_START);
    std::unique_lock<std::mutex> lock(rec.m);
    if (rec.startDisabled == 0) return;  // refused without a job
    ASSERT_TRUE(rec.cv.wait_for(lock, std::chrono::seconds(30), [this] { return rec.ended; }))
        << "the job did not end";
}

std::string JobTest::lastStatus() { return ui.status(); }

std::string ExpectedJob::dataPart() const {
    // Text stream: stop at 0x1A, CR LF read as LF.
    std::string text = data.substr(0, data.find('\x1a'));
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lf += text[i];
    }
    // Pieces of at most 99 bytes, each ending at a LF or when full.
    std::string out;
    bool skipping = skipBitmaps;
    size_t at = 0;
    while (at < lf.size()) {
        size_t nl = lf.find('\n', at);
        size_t end = nl == std::string::npos ? lf.size() : nl + 1;
        std::string piece = lf.substr(at, std::min<size_t>(end - at, 99));
        at += piece.size();
        if (skipping && beginsPageSection(piece)) skipping = false;
        if (!skipping) out += piece;
    }
    // An unterminated last line is ended before the save end command.
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out;
}

std::string ExpectedJob::upToErase() const {
    return framed("FWS") + "\r\n" + "FS\n" + (skipBitmaps ? "Fpageerase\n" : "Fimageerase\n");
}

std::string ExpectedJob::whole() const {
    return upToErase() + dataPart() + "Fs\nFWE\n" + settings + framed("Sb") + "\r\n";
}
