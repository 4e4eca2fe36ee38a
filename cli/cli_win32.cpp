// zemtabulo-cli on Windows: hints for a port that will not open, the console test.
#include <windows.h>

#include "cli/cli_platform.h"

std::string openHint(int err, const std::string& device) {
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
        return device +
               " is held by another program (a terminal program, another job); close it and try "
               "again.";
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return "No such serial port. 'zemtabulo-cli ports' lists the ones present.";
    return std::string();
}

void releasePortLocksOnSignals() {}

bool stdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}
