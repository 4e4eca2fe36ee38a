// The device log read back: its CSV records (RFC 4180) one at a time, as the line's sender and
// the units recorded ok need them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Bytes of the log read per step.
constexpr size_t kLogReadBufSize = 64 * 1024;
// A field longer than any of ours: what follows is no log of ours.
constexpr size_t kMaxLogFieldBytes = 1024 * 1024;

// A complete record of the log: its fields (still guarded) and where its line ends.
struct RawRecord {
    std::vector<std::string> fields;
    std::string line;  // its bytes, for an id made from them
    uint64_t end = 0;
};

// Reads the log's CSV records (RFC 4180) from `from` on. Only records whose line has ended
// are given: one being appended, or torn by a crash, waits until its end is there.
class RecordReader {
  public:
    RecordReader(std::ifstream& in, uint64_t from) : in_(in), offset_(from) {
        in_.clear();
        in_.seekg(std::streamoff(from));
    }
    // False at the end of what is complete.
    bool next(RawRecord& out) {
        std::vector<std::string> fields(1);
        std::string line;
        bool quoted = false;
        uint64_t at = offset_;
        for (;;) {
            if (pos_ == buf_.size() && !fill()) return false;
            const char c = buf_[pos_++];
            ++at;
            line += c;
            std::string& field = fields.back();
            if (field.size() > kMaxLogFieldBytes) return false;
            if (c == '"') {
                quoted = !quoted;  // a doubled quote toggles twice and keeps one
                if (!quoted && pos_ < buf_.size() && buf_[pos_] == '"') field += c;
            } else if (!quoted && c == ',') {
                fields.emplace_back();
            } else if (!quoted && c == '\n') {
                if (!field.empty() && field.back() == '\r') field.pop_back();
                out = {std::move(fields), std::move(line), at};
                offset_ = at;
                return true;
            } else {
                field += c;
            }
        }
    }

  private:
    bool fill() {
        buf_.resize(kLogReadBufSize);
        in_.read(buf_.data(), std::streamsize(buf_.size()));
        buf_.resize(size_t(in_.gcount()));
        pos_ = 0;
        return !buf_.empty();
    }

    std::ifstream& in_;
    uint64_t offset_;
    std::string buf_;
    size_t pos_ = 0;
};
