// Plain flags of the desktop programs (--version, --trace), looked for before anything that
// needs a display.
#pragma once

#include <cstring>
#include <string>

#include "zt_version.h"

inline bool argGiven(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) return true;
    }
    return false;
}

inline bool versionAsked(int argc, char** argv) { return argGiven(argc, argv, "--version"); }

// The name and the version, with the commit when built from a git checkout.
inline std::string desktopVersionLine(const char* program = "zemtabulo") {
    return std::string(program) + " " + kZtVersionText;
}
