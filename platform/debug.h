// Debug output: silent unless tracing is switched on, then one line per call on stderr.
#pragma once

#include <cstddef>
#include <string>

void debugOut(const std::string& text);
void setTracing(bool on);
bool tracing();

// Hex and text dump of bytes crossing the serial line, shown only while tracing.
// `direction` is "tx" or "rx".
void traceBytes(const char* direction, const void* data, size_t n);
