// --version of the desktop program, looked for before anything that needs a display.
#pragma once

#include <cstring>
#include <string>

#include "zt_version.h"

inline bool versionAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) return true;
    }
    return false;
}

// The name and the version, with the commit when built from a git checkout.
inline std::string desktopVersionLine(const char* program = "zemtabulo") {
    return std::string(program) + " " + kZtVersionText;
}
