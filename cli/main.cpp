#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli.h"
#include "cli/cli_platform.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "station/verdict.h"
#include "zt_version.h"

namespace {

void addOptionFlags(CLI::App* cmd, CliOptions& o) {
    cmd->add_flag("--vertical", o.vertical, "Vertical display");
    cmd->add_flag("--transfer-settings", o.transferSettings, "Transfer settings");
    cmd->add_flag("--startup-check", o.startupCheck, "Startup check");
    cmd->add_flag("--keep-sram", o.keepSram, "Keep SRAM");
    cmd->add_flag("--latin", o.latin, "Latin language mode");
    cmd->add_flag("--rs422", o.rs422, "Main port RS-422");
    cmd->add_option("--speed", o.speed, "Line speed of the device's main port")
        ->check(CLI::IsMember({4800, 9600, 19200, 38400}));
    cmd->add_flag("--response-check", o.responseCheck, "Response check");
    cmd->add_flag("--flow-control", o.flowControl, "Hardware flow control");
}

}  // namespace

int main(int argc, char** argv) {
    if (!systemSupported()) return kExitFailed;
    const std::string version = std::string("zemtabulo-cli ") + kZtVersionText;
    CLI::App app{version + ": writes V3 data files and display settings into V3 series devices"};
    app.set_version_flag("--version", version, "Print the program's name and version, and exit");
    app.require_subcommand(1);
    CliOptions o;

    CLI::App* write = app.add_subcommand("write", "Write a V3 data file into a device over a serial port");
    write->add_option("--port", o.ports,
                      "COMn (see COMPORTS.INI) or a device path; repeat for several devices at "
                      "once; default: SCI.INI");
    write->add_option("--data", o.data, "V3 data file")->required();
    addOptionFlags(write, o);
    write->add_flag("--skip-bitmaps", o.skipBitmaps, "Skip bitmaps: send only the page part");
    write->add_flag("--trace", o.trace, "Show debug output and every byte sent and received");
    write->add_flag("--json", o.json, "Events as JSON Lines on stdout (see README)");
    write->add_option("--expect-sum", o.expectSum, "The sum every device must give (hex)")
        ->check([](const std::string& s) {
            return isHexSum(s) ? std::string() : "not a sum of 1 to 15 hex digits: " + s;
        });
    write->add_option("--log", o.log, "Append a CSV record of every device to this file");
    write->add_flag("--slot", o.slot, "(used by a multi-port write for each of its ports)")
        ->group("");

    CLI::App* exp = app.add_subcommand("export", "Write the update file for a USB stick");
    exp->add_option("--data", o.data, "V3 data file")->required();
    exp->add_option("--to", o.to, "Folder to write v3update.dat into")->required();
    exp->add_option("--gaiji", o.gaiji, "External character file");
    exp->add_flag("--transfer-gaiji", o.transferGaiji,
                  "Copy the external character file as v3gaiji.dat");
    exp->add_flag("--invert", o.invert, "Invert display");
    addOptionFlags(exp, o);

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

    useClockFromEnvironment();
    setTracing(o.trace);
    releasePortLocksOnSignals();
    if (*write) {
        // The job's watcher thread may still be returning from its last call: leave without
        // running static destructors under it.
        const int status = cliWrite(o);
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    if (*exp) return cliExport(o);
    if (*ports) return cliPorts();
    return kExitUsage;
}
