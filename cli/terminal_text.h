// Text laid out in columns on a terminal, where East Asian wide characters take two.
#pragma once

#include <cstddef>
#include <string>

// Columns the UTF-8 text takes on a terminal.
size_t displayWidth(const std::string& text);
// The text with spaces after it up to `width` columns; as it is when it is wider.
std::string padded(const std::string& text, size_t width);
