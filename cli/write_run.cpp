#include "cli/write_run.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "platform/debug.h"
#include "platform/hash.h"
#include "platform/process.h"
#include "platform/serial.h"
#include "station/station_run.h"

int prepareRun(const CliOptions& o, const std::vector<std::string>& flags, WriteRun& run,
               bool always) {
    run.data = o.data;
    run.expectSum = o.expectSum;
    run.flags = flags;
    for (const std::string& flag : flags) {
        if (!run.options.empty()) run.options += ' ';
        run.options += flag;
    }
    run.givenSha256 = o.dataSha256;
    run.recordId = o.recordId;
    run.attempt = o.attempt;
    run.parentId = parentProcessId();
    // Checked before any port is opened: a file that cannot be read would fail every device.
    if (always || o.json || !o.log.empty() || !o.dataSha256.empty()) {
        if (int err = sha256File(o.data, run.sha256, run.bytes); err != 0) {
            std::fprintf(stderr, "%s: %s\n", o.data.c_str(), systemErrorText(err).c_str());
            return kExitSomeFailed;
        }
    }
    // A device written without its record could not be traced: no log, no write.
    if (!o.log.empty()) {
        run.log = std::make_shared<LogFile>();
        if (int err = run.log->open(o.log); err != 0) {
            std::fprintf(stderr, "log %s: %s\n", o.log.c_str(), run.log->errorText(err).c_str());
            return kExitSomeFailed;
        }
        if (!run.log->keepsAllFields())
            debugOut("log " + o.log + " has an older header: its records leave out " +
                     run.log->columnsLeftOut());
    }
    return startSending(o, run);
}

void finishSending(WriteRun& run) {
    if (!run.sender) return;
    const size_t waiting = run.sender->finish(kSendExitWait);
    const SendState state = run.sender->state();
    if (waiting > 0)
        std::fprintf(stderr, "%zu record%s wait for the line server%s\n", waiting,
                     waiting == 1 ? "" : "s",
                     state.problem.empty() ? "" : (" (" + state.problem + ")").c_str());
    if (state.refused > 0)
        std::fprintf(stderr, "%zu record%s refused by the line server, listed in %s\n",
                     state.refused, state.refused == 1 ? "" : "s",
                     refusedPathOf(run.log->path()).c_str());
}

DataIdentity dataAtStart(const WriteRun& run) {
    return {run.sha256, run.bytes};
}

std::string changedSinceParent(const WriteRun& run) {
    if (run.givenSha256.empty() || run.givenSha256 == run.sha256) return std::string();
    return "the data file changed before the write began (sha256 " + shortDigest(run.givenSha256) +
           " when the run began, " + shortDigest(run.sha256) + " at the job's start)";
}

SlotRecordInfo recordInfo(const WriteRun& run) {
    const bool unit = run.units.size() == 1;
    return {run.recordId,          run.data,      run.sha256,  run.bytes,
            run.options,           run.expectSum, run.attempt, unit ? run.units[0] : std::string(),
            unit && run.reworks[0]};
}

namespace {

// "COM1=SN-0042": the port as given, the id after the first '=' (a port name holds none).
bool splitUnitArg(const std::string& arg, std::string& port, std::string& id) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    port = arg.substr(0, eq);
    id = arg.substr(eq + 1);
    return true;
}

int refuseUnit(const std::string& port, const std::string& why) {
    std::fprintf(stderr, "%s: %s; nothing was written\n", port.c_str(), why.c_str());
    return kExitUsage;
}

// Each port's id from the PORT=ID arguments; kExitUsage after saying why.
int unitsOfPorts(const CliOptions& o, WriteRun& run) {
    run.units.assign(run.ports.size(), std::string());
    run.reworks.assign(run.ports.size(), false);
    for (const std::string& arg : o.units) {
        std::string port, id;
        if (!splitUnitArg(arg, port, id))
            return refuseUnit(arg, "--unit takes PORT=ID, the port as --port names it");
        const auto at = std::find(run.ports.begin(), run.ports.end(), port);
        if (at == run.ports.end()) return refuseUnit(port, "--unit names a port not written");
        std::string& unit = run.units[size_t(at - run.ports.begin())];
        if (!unit.empty()) return refuseUnit(port, "two unit ids for one port");
        if (std::find(run.units.begin(), run.units.end(), id) != run.units.end())
            return refuseUnit(port, "unit " + id + " is given for another port too");
        unit = id;
    }
    return 0;
}

}  // namespace

int checkUnits(const CliOptions& o, WriteRun& run, const LogFile* log) {
    UnitPattern pattern;
    if (const std::string why = compileUnitPattern(o.unitPattern, pattern); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitUsage;
    }
    if (const int status = unitsOfPorts(o, run); status != 0) return status;
    const bool any = std::any_of(run.units.begin(), run.units.end(),
                                 [](const std::string& u) { return !u.empty(); });
    // A log that leaves the column out would lose the units and could not tell a rework.
    if (log && any && !log->keepsColumn("unit"))
        return refuseUnit(log->path(), "the log's header is older and has no unit column");
    UnitLedger ledger;
    if (log && any && ledger.read(log->path()) != 0)
        return refuseUnit(log->path(), "the log cannot be read for the units recorded ok");
    for (size_t i = 0; i < run.ports.size(); ++i) {
        const bool recordedOk = log && ledger.recordedOk(run.units[i]);
        const UnitVerdict verdict = checkUnit(run.units[i], o.unitRequired, pattern, recordedOk);
        if (verdict == UnitVerdict::RecordedOk && o.rework) {
            run.reworks[i] = true;
            continue;
        }
        if (verdict != UnitVerdict::Ok)
            return refuseUnit(run.ports[i], unitRefusal(verdict, run.units[i], pattern));
    }
    return 0;
}

void takeSlotUnit(const CliOptions& o, WriteRun& run) {
    run.units.assign(run.ports.size(), std::string());
    run.reworks.assign(run.ports.size(), false);
    for (const std::string& arg : o.units) {
        std::string port, id;
        if (run.ports.size() == 1 && splitUnitArg(arg, port, id) && port == run.ports[0]) {
            run.units[0] = id;
            run.reworks[0] = o.rework;
        }
    }
}

bool logSlot(WriteRun& run, const std::string& port, const EndInfo& end, const std::string& sum,
             std::string* id) {
    if (!run.log) return true;
    const LogRecord r = slotRecord(port, end, sum, recordInfo(run));
    if (id) *id = r.id;
    const int err = run.recordId.empty() ? run.log->append(r) : run.log->appendOnce(r);
    if (err != 0) {
        std::fprintf(stderr, "log %s: %s: the record of %s is lost\n", run.log->path().c_str(),
                     run.log->errorText(err).c_str(), port.c_str());
        return false;
    }
    return true;
}

bool parentRecords(const WriteRun& run) {
    return run.slotMode && run.log && !run.recordId.empty();
}

namespace {

bool parentGone(const WriteRun& run) {
    if (run.events && run.events->broken()) return true;
    return run.parentId != 0 && parentProcessId() != run.parentId;
}

}  // namespace

int startSending(const CliOptions& o, WriteRun& run) {
    if (o.line.empty()) return 0;
    if (!run.log) {
        std::fprintf(stderr, "--line sends the log's records: it needs --log\n");
        return kExitUsage;
    }
    LineTarget target;
    if (const std::string why = lineTargetOf(o.line, o.lineTokenFile, target); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitUsage;
    }
    run.sender = std::make_unique<LineSender>(o.log, std::move(target));
    LineSender* sender = run.sender.get();
    run.log->onAppended([sender] { sender->wake(); });
    return 0;
}

bool recordUnlessParentDoes(WriteRun& run, const std::string& port, const EndInfo& end,
                            const std::string& sum, std::chrono::milliseconds bound) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + bound;
    bool gone = parentGone(run);
    // A log without ids cannot show the parent's record: there is nothing to wait for.
    while (!gone && run.log->knowsIds()) {
        if (run.log->hasRecord(run.recordId)) return true;
        if (Clock::now() >= until) {
            debugOut("the parent wrote no record " + run.recordId + " of " + port + " in time");
            return true;
        }
        std::this_thread::sleep_for(kKeepAliveInterval);
        gone = (run.events && !run.events->keepAlive()) || parentGone(run);
    }
    if (!gone) return true;
    debugOut("the parent of " + port + " is gone: the job writes its record " + run.recordId);
    return logSlot(run, port, end, sum);
}

bool sameDeviceRefused(const std::vector<std::string>& ports) {
    std::vector<std::pair<size_t, std::string>> named;
    for (size_t i = 0; i < ports.size(); ++i) named.emplace_back(i, ports[i]);
    const auto same = sameDevice({}, named);
    if (same)
        std::fprintf(stderr, "%s and %s are the same device (%s)\n", ports[same->first].c_str(),
                     ports[same->second].c_str(), same->device.c_str());
    return same.has_value();
}

int prepareSlotsRun(const CliOptions& o, WriteRun& run) {
    run.ports = o.ports;
    if (sameDeviceRefused(o.ports)) return kExitUsage;
    if (const int status = checkUnits(o, run, nullptr); status != 0) return status;
    if (const int status = prepareRun(o, writeSettingsFlags(o.settings), run, true); status != 0)
        return status;
    if (const int status = checkUnits(o, run, run.log.get()); status != 0) return status;
    if (o.json) run.events = std::make_unique<EventWriter>(stdout);
    return 0;
}
