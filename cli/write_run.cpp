#include "cli/write_run.h"

#include <cstdio>

#include "platform/debug.h"
#include "platform/hash.h"
#include "platform/serial.h"

int prepareRun(const CliOptions& o, const std::vector<std::string>& flags, WriteRun& run,
               bool always) {
    run.data = o.data;
    run.expectSum = o.expectSum;
    run.flags = flags;
    for (const std::string& flag : flags) {
        if (!run.options.empty()) run.options += ' ';
        run.options += flag;
    }
    // Checked before any port is opened: a file that cannot be read would fail every device.
    if (always || o.json || !o.log.empty()) {
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
    return 0;
}

bool logSlot(WriteRun& run, const std::string& port, const EndInfo& end, const std::string& sum,
             std::string* id) {
    if (!run.log) return true;
    LogRecord r = jobRecord(port, end, sum);
    if (id) *id = r.id;
    r.dataFile = run.data;
    r.dataSha256 = run.sha256;
    r.dataBytes = run.bytes;
    r.options = run.options;
    r.expectedSum = run.expectSum;
    if (int err = run.log->append(r); err != 0) {
        std::fprintf(stderr, "log %s: %s: the record of %s is lost\n", run.log->path().c_str(),
                     run.log->errorText(err).c_str(), port.c_str());
        return false;
    }
    return true;
}
