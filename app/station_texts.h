// What the station window's rows say of a slot's end, in the window's language.
#pragma once

#include <string>

#include "station/events.h"
#include "station/unit.h"

// The short name of a job's step (open, fws, ... sb).
std::string stepName(const std::string& step);
// The few words of an NG result field: what went wrong, and where. A job that ended without
// telling how (killed, crashed) was cut short wherever it was.
std::string ngWords(const EndInfo& end, const std::string& port, bool vanished);
// The status line of a slot that did not end well: the system's own text (in the system's
// language) comes after a Japanese reason, as the rest of the window speaks.
std::string failureText(const EndInfo& end);

// The box of a row's refused unit id; `slot` is the row's name.
std::string unitRefusalText(UnitVerdict verdict, const std::string& slot, const std::string& id,
                            const std::string& pattern);
// The question for an id whose device is recorded ok already.
std::string reworkQuestion(const std::string& slot, const std::string& id);
// One id in two rows (or in a row and a slot still writing).
std::string sameUnitText(const std::string& slot, const std::string& id, const std::string& other);
// STATION.INI's unit-pattern= is no pattern.
std::string unitPatternText(const std::string& why);
// The log's header is older than the unit column.
std::string unitColumnMissingText(const std::string& log);
