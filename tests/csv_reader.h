// The device log read back as CSV, for the tests that check what the log writer wrote.
#pragma once

#include <string>
#include <vector>

using Rows = std::vector<std::vector<std::string>>;

// An RFC 4180 reader written apart from the writer: every record ends in CR LF, a quote opens
// a field only at its start, and anything else makes the whole text unreadable (false).
inline bool parseCsv(const std::string& text, Rows& rows) {
    rows.clear();
    std::vector<std::string> row;
    std::string field;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size()) return false;
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i];
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r') {
                if (text[i] == '"' || text[i] == '\n') return false;
                field += text[i++];
            }
        }
        row.push_back(std::move(field));
        field.clear();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (text.compare(i, 2, "\r\n") != 0) return false;
        i += 2;
        rows.push_back(std::move(row));
        row.clear();
    }
    return true;
}
