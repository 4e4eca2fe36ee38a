// Framed commands: STX, the command text, ETX, two lowercase hex digits of the XOR of the
// text's bytes.
#pragma once

#include <cstddef>
#include <string>

// The command text of a framed reply is at most this many bytes, NUL included.
constexpr size_t kFrameTextSize = 100;

// The two check digits of `text` and a NUL.
void frameSum(const char* text, char sum[3]);

// STX, text, ETX and the check digits; no line end.
std::string frameBuild(const char* text);

// The command text of a valid framed reply, copied into `text`; nullptr when `reply` is not
// one (no STX first, no ETX within 100 bytes, or check digits that do not match exactly).
char* frameParse(const char* reply, char (&text)[kFrameTextSize]);
