// playSound through libcanberra: a wave file played to its end before the call returns, the
// sound theme's bell for a missing file, and no wait at all where there is no sound device.
#include <alsa/asoundlib.h>
#include <canberra.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "platform/debug.h"
#include "platform/qt/qt_ui.h"

namespace {

// Upper bound of a wait beyond the sound's own length, should the end never be reported.
constexpr uint32_t kEndGraceMs = 3000;
// The bell's length is not known beforehand.
constexpr uint32_t kBellBoundMs = 5000;
// The longest the end of the program waits for a sound being played.
constexpr auto kLeaveWait = std::chrono::seconds(10);

std::mutex g_lock;  // guards everything below
ca_context* g_context = nullptr;
bool g_contextTried = false;
bool g_noDevice = false;  // a play failed for want of a device: no more tries this run
uint32_t g_nextId = 1;
std::function<void(const std::string&)> g_observer;
int g_inProgress = 0;             // playSound calls that have not returned
std::condition_variable g_quiet;  // told when g_inProgress drops to 0

// Counts one playSound call for as long as it runs.
struct InProgress {
    InProgress() {
        std::lock_guard<std::mutex> g(g_lock);
        ++g_inProgress;
    }
    ~InProgress() {
        std::lock_guard<std::mutex> g(g_lock);
        if (--g_inProgress == 0) g_quiet.notify_all();
    }
    InProgress(const InProgress&) = delete;
    InProgress& operator=(const InProgress&) = delete;
};

struct Playing {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
};
std::map<uint32_t, std::shared_ptr<Playing>> g_playing;

// Destroys the context when the program ends normally.
struct ContextOwner {
    ~ContextOwner() {
        if (g_context) ca_context_destroy(g_context);
    }
} g_contextOwner;

// Room for one ALSA message in the debug output; a longer one is cut.
constexpr size_t kAlsaMessageSize = 512;

// ALSA reports a missing card on stderr at every sound, for every program, which on a machine
// without one is noise for the operator: its messages go to the debug output instead.
void alsaMessage(const char* file, int line, const char* function, int err, const char* format,
                 ...) {
    if (!tracing()) return;
    char text[kAlsaMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const std::string where = std::string(file ? file : "?") + ":" + std::to_string(line);
    debugOut("ALSA " + where + " " + (function ? function : "?") + ": " + text +
             (err ? std::string(": ") + snd_strerror(err) : std::string()));
}

ca_context* soundContext() {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_noDevice) return nullptr;
    if (g_contextTried) return g_context;
    g_contextTried = true;
    snd_lib_error_set_handler(alsaMessage);
    ca_context* c = nullptr;
    if (ca_context_create(&c) != CA_SUCCESS) return nullptr;
    ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "ZemTabulo", nullptr);
    if (ca_context_open(c) != CA_SUCCESS) {  // no sound device
        ca_context_destroy(c);
        return nullptr;
    }
    g_context = c;
    return c;
}

// Runs on libcanberra's own thread when a sound has ended or was cancelled.
void soundEnded(ca_context*, uint32_t id, int, void*) {
    std::shared_ptr<Playing> p;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_playing.find(id);
        if (it == g_playing.end()) return;
        p = it->second;
        g_playing.erase(it);
    }
    std::lock_guard<std::mutex> g(p->lock);
    p->done = true;
    p->ended.notify_all();
}

uint32_t readLe(std::istream& in, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(uint8_t(in.get())) << (8 * i);
    return v;
}

// Length of a RIFF wave file in milliseconds from its header; 0 when it cannot be told.
uint32_t waveLengthMs(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char tag[4];
    if (!in.read(tag, 4) || std::string(tag, 4) != "RIFF") return 0;
    readLe(in, 4);
    if (!in.read(tag, 4) || std::string(tag, 4) != "WAVE") return 0;
    uint32_t byteRate = 0;
    while (in.read(tag, 4)) {
        const uint32_t size = readLe(in, 4);
        const std::string kind(tag, 4);
        if (kind == "fmt " && size >= 16) {
            readLe(in, 8);
            byteRate = readLe(in, 4);
            in.seekg(size - 12, std::ios::cur);
        } else if (kind == "data") {
            return byteRate ? uint32_t(uint64_t(size) * 1000 / byteRate) : 0;
        } else {
            in.seekg(size + (size & 1), std::ios::cur);
        }
    }
    return 0;
}

}  // namespace

// As given (relative to the working directory), else beside the program, as the system the
// program was written for searches; then the installed data folder, found from the program's
// own folder first so that a relocated installation finds its own files.
std::string qtFindSound(const std::string& file, const std::string& programDir) {
    QFileInfo given(QString::fromUtf8(file.c_str()));
    if (given.isFile()) return given.absoluteFilePath().toStdString();
    if (!given.isRelative()) return std::string();
    QStringList dirs;
    if (!programDir.empty()) {
        const QDir program(QString::fromStdString(programDir));
        dirs << program.path()
             << QDir::cleanPath(program.filePath(QStringLiteral("../share/zemtabulo")));
    }
#ifdef ZT_INSTALL_DATADIR
    dirs << QStringLiteral(ZT_INSTALL_DATADIR);
#endif
    for (const QString& dir : dirs) {
        QFileInfo there(QDir(dir), given.filePath());
        if (there.isFile()) return there.absoluteFilePath().toStdString();
    }
    return std::string();
}

namespace {

std::string findWave(const std::string& file) {
    const std::string programDir = QCoreApplication::instance()
                                       ? QCoreApplication::applicationDirPath().toStdString()
                                       : std::string();
    return qtFindSound(file, programDir);
}

// Errors that say the sound device is missing. Its driver reports a missing device as "not
// found", which for a file that exists can mean nothing else.
bool noDeviceError(int rc, bool fileExists) {
    return rc == CA_ERROR_NOTAVAILABLE || rc == CA_ERROR_DISCONNECTED || rc == CA_ERROR_NODRIVER ||
           (rc == CA_ERROR_NOTFOUND && fileExists);
}

// Starts one sound and waits for its end, at most `boundMs`.
void playAndWait(ca_context* c, ca_proplist* props, bool fileExists, uint32_t boundMs) {
    auto playing = std::make_shared<Playing>();
    uint32_t id;
    {
        std::lock_guard<std::mutex> g(g_lock);
        id = g_nextId++;
        g_playing[id] = playing;
    }
    const int rc = ca_context_play_full(c, id, props, soundEnded, nullptr);
    if (rc != CA_SUCCESS) {
        std::lock_guard<std::mutex> g(g_lock);
        g_playing.erase(id);
        if (noDeviceError(rc, fileExists)) g_noDevice = true;  // no more tries this run
        return;
    }
    std::unique_lock<std::mutex> g(playing->lock);
    if (!playing->ended.wait_for(g, std::chrono::milliseconds(boundMs),
                                 [&] { return playing->done; })) {
        g.unlock();
        ca_context_cancel(c, id);
    }
}

}  // namespace

void qtSetSoundObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> g(g_lock);
    g_observer = std::move(observer);
}

bool qtSoundDevice() {
    std::lock_guard<std::mutex> g(g_lock);
    return !g_noDevice;
}

void qtWaitForSounds() {
    std::unique_lock<std::mutex> g(g_lock);
    g_quiet.wait_for(g, kLeaveWait, [] { return g_inProgress == 0; });
}

void playSound(const std::string& file) {
    const InProgress counted;
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard<std::mutex> g(g_lock);
        observer = g_observer;
    }
    if (observer) observer(file);
    ca_context* c = soundContext();
    if (!c) return;
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) return;
    const std::string path = findWave(file);
    uint32_t bound = kBellBoundMs;
    if (path.empty()) {
        ca_proplist_sets(props, CA_PROP_EVENT_ID, "bell");
    } else {
        ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, path.c_str());
        bound = waveLengthMs(path) + kEndGraceMs;
    }
    ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
    playAndWait(c, props, !path.empty(), bound);
    ca_proplist_destroy(props);
}
