// zemtabulo-cli on POSIX: hints for a port that will not open, the terminal test, lock files
// given back on a signal.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/cli_platform.h"
#include "platform/serial.h"
#include "platform/serial_lock.h"

namespace {

std::string holderText(const std::string& device) {
    const PortOwner owner = serialPortOwner(device);
    if (owner.pid == 0) return " (a modem manager, a terminal program)";
    return " (pid " + std::to_string(owner.pid) +
           (owner.program.empty() ? std::string() : ", " + owner.program) + ")";
}

std::string systemHint(int err, const std::string& device) {
    if (err == EACCES || err == EPERM) {
        struct stat st {};
        std::string owner = "the device's group";
        if (stat(device.c_str(), &st) == 0) {
            if (const struct group* g = getgrgid(st.st_gid))
                owner = std::string("the group '") + g->gr_name + "'";
        }
        return "No permission to use " + device + ": it belongs to " + owner +
               ". Join that group (for example: sudo usermod -aG <group> $USER) and log in afresh.";
    }
    if (err == EBUSY)
        return device + " is held by another program" + holderText(device) +
               "; close it and try again.";
    if (err == ENOENT || err == ENODEV || err == ENXIO)
        return "No such serial device. 'zemtabulo-cli ports' lists the ones present; COMPORTS.INI "
               "maps COMn names.";
    return std::string();
}

void releaseLocksAndDie(int sig) {
    serialReleaseLocksForExit();
    // The handler was reset to the default on entry: the signal ends the process as usual
    // once this returns.
    raise(sig);
}

}  // namespace

// What the operator can do about a port that will not open.
std::string openHint(int err, const std::string& device) {
    std::string hint = systemHint(err, device);
    const std::string warning = modemManagerWarning();
    if (!warning.empty()) hint += (hint.empty() ? "" : "\n") + warning;
    return hint;
}

std::string modemManagerWarning(const std::string& procRoot) {
    const int pid = findProcessNamed("ModemManager", procRoot);
    if (pid == 0) return std::string();
    return "ModemManager is running (pid " + std::to_string(pid) +
           "): it probes serial ports as they appear and can hold them. If a port is refused, "
           "stop it (sudo systemctl stop ModemManager) or tell it to ignore the adapter.";
}

void releasePortLocksOnSignals() {
    struct sigaction sa {};
    sa.sa_handler = releaseLocksAndDie;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void ignoreBrokenPipes() {
    signal(SIGPIPE, SIG_IGN);
}

void keepStandardStreamsOpen() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is this one: the open takes its place.
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != fd && null >= 0) close(null);
    }
}

bool stdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool systemSupported() {
    return true;
}
