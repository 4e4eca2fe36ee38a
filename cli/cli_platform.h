// The few things zemtabulo-cli does differently on each system.
#pragma once

#include <string>

// What the operator can do about a port that would not open with the system's error `err`;
// empty when there is nothing to add to the system's text.
std::string openHint(int err, const std::string& device);

// True when standard output is a terminal (a console window on Windows).
bool stdoutIsTerminal();

// False, with the reason on standard error, on a system too old for the program.
bool systemSupported();
