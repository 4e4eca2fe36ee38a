// The program's string table, looked up by number (entries 1 to 13).
#pragma once

#include <cstddef>
#include <string>

// Texts are cut to fit the loader's buffer of this many bytes, NUL included.
constexpr size_t kResStringBufSize = 1000;

// The text of string table entry `id`; empty for an id the table does not hold.
std::string resString(int id);
