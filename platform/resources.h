// The program's string table, looked up by number (entries 1 to 13).
#pragma once

#include <cstddef>
#include <string>

// Texts are cut to fit the loader's buffer of this many bytes, NUL included.
constexpr size_t kResStringBufSize = 1000;

// The entries the programs show.
enum StringId : int {
    kStrTransferFailed = 6,  // the status line after a reply that did not come
    kStrAboutNote = 7,
    kStrWorkDirTooDeep = 11,
    kStrAppName = 12,  // the caption of the programs' own boxes
    kStrNoDataFile = 13,
};

// The text of string table entry `id`; empty for an id the table does not hold.
std::string resString(int id);
