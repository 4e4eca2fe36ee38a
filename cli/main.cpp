#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "station/log.h"
#include "station/station_run.h"
#include "station/verdict.h"
#include "zt_version.h"

namespace {

// The settings flags a command takes, from the settings table.
void addSettingsFlags(CLI::App* cmd, CliOptions& o, SettingCommands command) {
    for (const SettingRow& row : kSettingRows) {
        if (!(row.commands & command)) continue;
        if (row.member) {
            cmd->add_flag(row.flag, o.settings.*row.member, row.help);
            continue;
        }
        std::vector<int> speeds;
        for (const char* text : kLineSpeedTexts) speeds.push_back(std::stoi(text));
        cmd->add_option(row.flag, o.speed, row.help)->check(CLI::IsMember(speeds));
    }
}

// SHA-256 digits: 64 hex digits of either case.
constexpr size_t kSha256HexDigits = 64;

bool isSha256Hex(const std::string& s) {
    return s.size() == kSha256HexDigits &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string lowercase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void addRetryFlags(CLI::App* command, CliOptions& o) {
    command
        ->add_option("--retries", o.retries,
                     "Run a device's job again, up to N times, after a failure a retry can mend")
        ->check(CLI::Range(0, kMaxRetries));
    command->add_flag("--retry-sum", o.retrySum,
                      "Retry a device whose sum differs or cannot be read too");
}

// The unit ids and their checks (write; station refuses them).
void addUnitFlags(CLI::App* command, CliOptions& o) {
    command->add_option("--unit", o.units,
                        "PORT=ID: the unit id (the serial on its label) of the device on PORT, "
                        "kept in its record; repeat for each port");
    command->add_option("--unit-pattern", o.unitPattern,
                        "What every unit id must match as a whole (ECMAScript regular expression)");
    command->add_flag("--unit-required", o.unitRequired, "Refuse a port without --unit");
    command->add_flag("--rework", o.rework,
                      "Write units whose devices are recorded ok in the log already (a rework, "
                      "marked in their records)");
}

}  // namespace

int main(int argc, char** argv) {
    if (!systemSupported()) return kExitFailed;
    keepStandardStreamsOpen();
    const std::string version = std::string("zemtabulo-cli ") + kZtVersionText;
    CLI::App app{version + ": writes V3 data files and display settings into V3 series devices"};
    app.set_version_flag("--version", version, "Print the program's name and version, and exit");
    app.require_subcommand(1);
    CliOptions o;

    CLI::App* write =
        app.add_subcommand("write", "Write a V3 data file into a device over a serial port");
    write->add_option("--port", o.ports,
                      "COMn (see COMPORTS.INI) or a device path; repeat for several devices at "
                      "once; default: SCI.INI");
    write->add_option("--data", o.data, "V3 data file")->required();
    addSettingsFlags(write, o, kForWrite);
    write->add_flag("--trace", o.trace, "Show debug output and every byte sent and received");
    write->add_flag("--json", o.json, "Events as JSON Lines on stdout (see README)");
    write->add_option("--expect-sum", o.expectSum, "The sum every device must give (hex)")
        ->check([](const std::string& s) {
            return isHexSum(s) ? std::string() : "not a sum of 1 to 15 hex digits: " + s;
        });
    write->add_option("--log", o.log, "Append a CSV record of every device to this file");
    write->add_flag("--slot", o.slot, "(used by a multi-port write for each of its ports)")
        ->group("");
    write
        ->add_option("--data-sha256", o.dataSha256,
                     "(the data file's digest as the parent took it)")
        ->group("")
        ->check([](const std::string& s) {
            return isSha256Hex(s) ? std::string() : "not a SHA-256 in hex: " + s;
        })
        ->transform([](std::string s) { return lowercase(s); });
    write->add_option("--attempt", o.attempt, "(the slot's attempt at its device)")
        ->group("")
        ->check(CLI::Range(1, kMaxRetries + 1));
    addRetryFlags(write, o);
    addUnitFlags(write, o);
    write->add_option("--record-id", o.recordId, "(the id of the record the parent writes)")
        ->group("")
        ->check([](const std::string& s) {
            return usableRecordId(s) ? std::string() : "not a record id: " + s;
        });

    write->add_option("--line", o.line,
                      "Send each record of --log to this line server (http:// or https://)");
    write->add_option("--line-token-file", o.lineTokenFile,
                      "The file whose first line is this station's token for the line server");

    CLI::App* send = app.add_subcommand(
        "send", "Send the log's records the line server has not acknowledged yet");
    send->add_option("--log", o.log, "The CSV log (its .sent file beside it)")->required();
    send->add_option("--line", o.line, "The line server's address")->required();
    send->add_option("--line-token-file", o.lineTokenFile, "The file holding the token")
        ->required();
    send->add_flag("--trace", o.trace, "Show debug output");

    CLI::App* station = app.add_subcommand(
        "station", "Write each device as it is plugged in, until Ctrl-C (see README: auto mode)");
    station->add_option("--port", o.ports, "COMn (see COMPORTS.INI) or a device path; repeat")
        ->required();
    station->add_option("--data", o.data, "V3 data file")->required();
    station->add_flag("--auto", o.autoStart, "Start each port's job when its device appears")
        ->required();
    station
        ->add_option("--debounce", o.debounceMs,
                     "Milliseconds a device must stay before its job starts, and stay away "
                     "before the port arms again")
        ->capture_default_str()
        ->check(CLI::Range(0, int(kMaxDebounce.count())));
    addSettingsFlags(station, o, kForWrite);
    station->add_option("--log", o.log, "Append a CSV record of every job to this file");
    station->add_option("--expect-sum", o.expectSum, "The sum every device must give (hex)")
        ->check([](const std::string& s) {
            return isHexSum(s) ? std::string() : "not a sum of 1 to 15 hex digits: " + s;
        });
    addRetryFlags(station, o);
    // Taken to be refused with the reason rather than as unknown options.
    addUnitFlags(station, o);
    station->add_flag("--json", o.json, "Events as JSON Lines on stdout (see README)");
    station->add_flag("--trace", o.trace, "Show the jobs' debug output");

    CLI::App* exp = app.add_subcommand("export", "Write the update file for a USB stick");
    exp->add_option("--data", o.data, "V3 data file")->required();
    exp->add_option("--to", o.to, "Folder to write v3update.dat into")->required();
    exp->add_option("--gaiji", o.gaiji, "External character file");
    addSettingsFlags(exp, o, kForExport);

    CLI::App* ports =
        app.add_subcommand("ports", "List serial devices and the COMn names for them");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    o.settings.lineSpeed = lineSpeedIndex(std::to_string(o.speed));
    useClockFromEnvironment();
    setTracing(o.trace);
    releasePortLocksOnSignals();
    ignoreBrokenPipes();
    if (*write) return cliWrite(o);
    if (*station) return cliStation(o);
    if (*exp) return cliExport(o);
    if (*send) return cliSend(o);
    if (*ports) return cliPorts();
    return kExitUsage;
}
