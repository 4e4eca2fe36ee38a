// zemtabulo-cli on POSIX: hints for a port that will not open, the terminal test.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/cli_platform.h"

// What the operator can do about a port that will not open.
std::string openHint(int err, const std::string& device) {
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
        return device +
               " is held by another program (a modem manager, a terminal program); close it and "
               "try again.";
    if (err == ENOENT || err == ENODEV || err == ENXIO)
        return "No such serial device. 'zemtabulo-cli ports' lists the ones present; COMPORTS.INI "
               "maps COMn names.";
    return std::string();
}

bool stdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool systemSupported() {
    return true;
}
