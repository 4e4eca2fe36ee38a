// What the station window's rows say of a slot's end, in the window's language.
#pragma once

#include <string>

#include "station/events.h"

// The short name of a job's step (open, fws, ... sb).
std::string stepName(const std::string& step);
// The few words of an NG result field: what went wrong, and where. A job that ended without
// telling how (killed, crashed) was cut short wherever it was.
std::string ngWords(const EndInfo& end, const std::string& port, bool vanished);
// The status line of a slot that did not end well: the system's own text (in the system's
// language) comes after a Japanese reason, as the rest of the window speaks.
std::string failureText(const EndInfo& end);
