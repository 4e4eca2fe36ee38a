// zemtabulo-line import: the stations' CSV logs into the records table.
#pragma once

#include <cstddef>
#include <string>

#include "line/pg.h"

struct ImportCount {
    size_t records = 0;  // read from the file
    size_t added = 0;    // not stored before
    size_t skipped = 0;  // lines whose field count is not the header's (torn by a crash)
};

// Stores the log's records as the station's, in one transaction: all or none. A record
// without an id (a log begun before ids) gets one made from the station and its fields, so
// that importing the file again stores nothing twice. Empty on success, else why the file was
// refused (nothing stored). Throws PgUnavailable.
std::string importLog(PgConnection& db, const std::string& path, const std::string& station,
                      ImportCount& count);
