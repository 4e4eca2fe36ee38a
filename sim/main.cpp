// v3sim: a simulated V3 series device on a pseudo-terminal, to try the tool without a device
// and to drive it through the faults of a real line in tests.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "sim/sim.h"
#include "writer/frame.h"
#include "zt_version.h"

namespace {

constexpr int kExitUsage = 2;
const char* const kFooter = R"(
The device answers a write job as a V3 device does: framed FWS -> "FlashRom Mode Start",
FS -> "Data Save Start", Fimageerase / Fpageerase -> "Image Erase End" / "PageData Erase End"
(after --erase-ms), data lines up to Fs -> "Data Save End", FWE -> "FlashRom Mode End",
framed register writes and UC -> no reply, framed Sb -> framed data sum.
The data sum is the 16-bit sum of the data bytes received, as four hex digits, unless --sum.

STEP is one of fws, fs, erase, fs_end, fwe, sb.
Times given in clock milliseconds follow ZEMTABULO_TIME_SCALE like the tool's own clock.
With --rate, the tool's writes block while 3000 bytes wait to be taken, as on a serial line.
The first line on standard output is the device path to give the tool.
Exit status: 0 when it ended as asked (--jobs, --idle, --hangup-*, SIGTERM/SIGINT),
1 when the device could not be set up or its line failed, 2 on a usage error.

Example:
  v3sim --link /tmp/v3dev --verbose &
  zemtabulo-cli write --port /tmp/v3dev --data screens.v3
)";

extern "C" void onStopSignal(int) {
    g_stopRequested.store(1);
}

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// "STEP:MS" for --late-at.
std::string parseLate(const std::string& value, Faults& faults) {
    size_t colon = value.find(':');
    Step step;
    if (colon == std::string::npos || !stepFromName(value.substr(0, colon), step))
        return "expected STEP:MS with STEP one of fws, fs, erase, fs_end, fwe, sb";
    const std::string ms = value.substr(colon + 1);
    char* end = nullptr;
    unsigned long n = std::strtoul(ms.c_str(), &end, 10);
    if (ms.empty() || *end != '\0' || n > 0xffffffffUL) return "MS must be a whole number";
    faults.lateMs[size_t(step)] = uint32_t(n);
    return "";
}

std::vector<std::string> stepNames() {
    std::vector<std::string> names;
    for (size_t i = 0; i < kStepCount; ++i) names.emplace_back(stepName(Step(i)));
    return names;
}

std::string checkSum(const std::string& sum) {
    if (sum.size() >= kFrameTextSize) return "at most 99 characters";
    for (unsigned char c : sum)
        if (c == 0x02 || c == 0x03 || c == '\r' || c == '\n' || c == 0)
            return "no STX, ETX, CR or LF";
    return "";
}

void addFaultOptions(CLI::App& app, SimOptions& o, std::vector<std::string>& silent,
                     std::vector<std::string>& late, std::vector<std::string>& hangup) {
    auto* faults = "Faults (for tests)";
    app.add_option("--silent-at", silent, "No reply at STEP (repeatable)")
        ->group(faults)
        ->type_name("STEP")
        ->check(CLI::IsMember(stepNames()));
    app.add_option("--late-at", late, "Answer STEP MS clock ms late (repeatable)")
        ->group(faults)
        ->type_name("STEP:MS");
    app.add_flag("--noise", o.faults.noise, "Unrelated lines and lone LFs before every reply")
        ->group(faults);
    app.add_flag("--noise-bytes", o.faults.noiseBytes,
                 "Lines of random bytes (NUL, 0xFF, STX, ETX, lone CR) before every reply")
        ->group(faults);
    app.add_flag("--split", o.faults.split, "Send each reply in pieces, the CR last")
        ->group(faults);
    app.add_flag("--bad-sum", o.faults.badSum, "Wrong check digits in the sum reply")
        ->group(faults);
    app.add_flag("--upper-sum", o.faults.upperSum,
                 "Upper-case check digits in the sum reply (a fault only when they hold a-f)")
        ->group(faults);
    app.add_flag("--long-sum", o.faults.longSum,
                 "A sum reply longer than a reply line may be (the sum padded to 20 characters)")
        ->group(faults);
    app.add_option("--hangup-after", o.faults.hangupAfter,
                   "Hang the line up after N bytes received in the data phase")
        ->group(faults)
        ->type_name("N")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--hangup-at", hangup,
                   "Hang the line up when STEP's command comes, instead of answering (repeatable)")
        ->group(faults)
        ->type_name("STEP")
        ->check(CLI::IsMember(stepNames()));
    app.add_option("--noise-seed", o.faults.noiseSeed, "Seed of the random bytes of --noise-bytes")
        ->group(faults)
        ->type_name("N");
    app.add_flag(
           "--noise-spoil", o.faults.noiseSpoil,
           "With --noise-bytes, one burst in four without its last CR: it runs into the reply")
        ->group(faults);
    app.add_flag("--faults-once", o.faultsOnce,
                 "The faults hold for the first job only: the next job (a retry) finds none")
        ->group(faults);
    app.add_option("--rate", o.rate,
                   "Read at most BYTES_PER_SEC of clock time from the line (3840: 38400 bit/s)")
        ->group(faults)
        ->type_name("BYTES_PER_SEC");
}

void addOptions(CLI::App& app, SimOptions& o) {
    app.add_option("--link", o.linkPath, "Also make a symlink PATH to the device (removed at exit)")
        ->type_name("PATH");
    app.add_option("--capture", o.capturePath, "Append every byte received to FILE")
        ->type_name("FILE");
    app.add_flag("--verbose,-v", o.verbose, "Log each command and reply on stderr");
    app.add_option("--sum", o.sum, "The data sum to report (default: computed from the data)")
        ->type_name("TEXT")
        ->check([](const std::string& s) { return checkSum(s); });
    app.add_option("--erase-ms", o.eraseMs, "Clock ms an erase takes")
        ->type_name("MS")
        ->capture_default_str();
    app.add_flag("--reply-registers", o.replyRegisters,
                 "Answer register writes and UC with an unrelated line (OK)");
    app.add_option("--jobs", o.jobs, "End after N answered sum queries (0: never)")
        ->type_name("N")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--idle", o.idleSeconds,
                   "End after SECONDS of real time without input (0: never)")
        ->type_name("SECONDS")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"v3sim: a simulated V3 series device on a pseudo-terminal"};
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("v3sim ") + kZtVersionText,
                         "Print the program's name and version, and exit");
    SimOptions options;
    std::vector<std::string> silent, late, hangup;
    addOptions(app, options);
    addFaultOptions(app, options, silent, late, hangup);
    try {
        app.parse(argc, argv);
        for (const std::string& s : late) {
            std::string error = parseLate(s, options.faults);
            if (!error.empty()) throw CLI::ValidationError("--late-at", error);
        }
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    Step step;
    for (const std::string& s : silent)
        if (stepFromName(s, step)) options.faults.silent[size_t(step)] = true;
    for (const std::string& s : hangup)
        if (stepFromName(s, step)) options.faults.hangupAt[size_t(step)] = true;

    useClockFromEnvironment();
    installSignals();
    return runSim(options);
}
