// The machine the program runs on.
#pragma once

#include <string>

// The machine's host name; empty when the system does not tell it.
std::string hostName();
