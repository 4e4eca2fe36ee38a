// zemtabulo-cli send: what a station's log holds that the line server has not acknowledged, sent
// now (after the server was down, or from a station that ran without --line).
#include <cstdio>
#include <thread>

#include "cli/cli.h"
#include "station/line_sender.h"

namespace {

// How long the command tries before it gives up; the records stay queued in the log.
constexpr std::chrono::seconds kSendCommandWait{60};
constexpr std::chrono::milliseconds kLookInterval{50};

}  // namespace

int cliSend(const CliOptions& o) {
    LineTarget target;
    if (const std::string why = lineTargetOf(o.line, o.lineTokenFile, target); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitUsage;
    }
    if (std::FILE* log = std::fopen(o.log.c_str(), "rb")) {
        std::fclose(log);
    } else {
        std::fprintf(stderr, "the log %s cannot be read\n", o.log.c_str());
        return kExitFailed;
    }
    LineSender sender(o.log, std::move(target));
    // Until everything is sent or a send failed: a command does not sit out the backoff.
    const auto until = std::chrono::steady_clock::now() + kSendCommandWait;
    SendState state = sender.state();
    while (std::chrono::steady_clock::now() < until &&
           !(state.scanned && (state.waiting == 0 || state.failing))) {
        std::this_thread::sleep_for(kLookInterval);
        state = sender.state();
    }
    sender.finish(std::chrono::milliseconds(0));
    state = sender.state();
    if (state.refused > 0)
        std::fprintf(stderr, "%zu record%s refused by the line server, listed in %s\n",
                     state.refused, state.refused == 1 ? "" : "s", refusedPathOf(o.log).c_str());
    if (state.scanned && state.waiting == 0) return state.refused > 0 ? kExitFailed : kExitOk;
    std::fprintf(stderr, "%zu records wait for the line server%s\n", state.waiting,
                 state.problem.empty() ? "" : (": " + state.problem).c_str());
    return kExitFailed;
}
