// The device log read back as CSV, for the tests that check what the log writer wrote.
#pragma once

#include <algorithm>
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

// The device log as its readers are told to read it: the BOM skipped, a field's guarding
// apostrophe removed, columns found by the header's names.
struct LogTable {
    std::vector<std::string> header;
    Rows records;

    bool parse(const std::string& text) {
        const size_t bom = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
        if (!parseCsv(text.substr(bom), records) || records.empty()) return false;
        header = records.front();
        records.erase(records.begin());
        for (auto& record : records)
            for (std::string& field : record)
                if (field.rfind('\'', 0) == 0) field.erase(0, 1);
        return true;
    }
    // Record i's field in the named column; "<none>" when the header or the record has none.
    std::string at(size_t i, const std::string& column) const {
        const size_t c = size_t(std::find(header.begin(), header.end(), column) - header.begin());
        return c < records.at(i).size() ? records[i][c] : "<none>";
    }
};
