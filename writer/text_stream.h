// Reading a V3 data file as a text stream, the same on every platform: a CR LF pair reads as
// LF, a lone CR stays, and a byte 0x1A ends the data. The file is cut into pieces that end
// after a LF or when the caller's buffer is full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/hash.h"

// Pieces of the serial transfer: at most 99 bytes and a NUL.
constexpr size_t kPieceBufSize = 100;
// The data check reads the file in blocks of this size.
constexpr size_t kDataCheckBlockSize = 256 * 1024;

// What the data check found in a V3 data file, read up to its first 0x1A.
struct DataCheck {
    int err = 0;         // the system's error code when it could not be opened or read
    int64_t nulAt = -1;  // offset of the first NUL byte in the file on disk, -1 when none
    bool ok() const { return err == 0 && nulAt < 0; }
};

// Reads the file once to the end of its data. A NUL byte would cut its piece short on the
// serial line, so a file holding one is refused before the device is touched; so is one that
// cannot be read to its end. The offset counts the bytes on disk: what a hex editor shows.
DataCheck checkDataFile(const std::string& path);
// Why a check failed, in words: the system's reason, or where the NUL byte is.
std::string dataCheckText(const DataCheck& check);
// An offset in a file, in decimal and in hexadecimal: "1234 (0x4D2)".
std::string offsetText(int64_t offset);

// The progress bar takes signed 32-bit values; a larger total is shifted right by this many
// bits (and every position with it), so the bar still runs from empty to full.
int progressShift(uint64_t total);

class TextStream {
public:
    TextStream() = default;
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;
    ~TextStream();

    // Opens a regular file for reading. 0 on success, else the system's error code.
    int open(const std::string& path);
    bool isOpen() const { return file_.isOpen(); }
    void close();

    // Size of the file on disk, in bytes.
    uint64_t size() const { return size_; }
    // Bytes of the file consumed so far (CRs dropped from CR LF pairs included).
    uint64_t rawPosition() const { return rawPos_; }
    // The system's error code of a failed read; 0 while none has failed.
    int error() const { return error_; }

    // From now on every byte read from the file goes into a SHA-256 digest as well, in the
    // order of the file: what the record of a write gives is the digest of what was sent.
    void startDigest();
    // The digest of the bytes read so far (lowercase hex; empty when none was started or the
    // system's digest failed). The digest is over then.
    std::string finishDigest();
    // Bytes read from the file so far: the digest's bytes, ahead of rawPosition() by what waits
    // in the buffer.
    uint64_t bytesRead() const { return bytesRead_; }
    // True once a read found the end of the file.
    bool atFileEnd() const { return fileEnd_; }
    // Reads on past the end of the data (a 0x1A), for the digest only, until the end of the
    // file or until more than `limit` bytes were read in all: a file that grows is not chased.
    // The text stream is over after it.
    void readToEnd(uint64_t limit);

    // Reads the next piece into out: at most cap - 1 bytes, up to and including the next LF,
    // NUL-terminated. Returns the piece's length (a piece may hold NUL bytes), 0 at the end of
    // the data or after a read error (see error()).
    size_t readPiece(char* out, size_t cap);
    // The same without stopping at line ends: as much of the text as fits.
    size_t readText(char* out, size_t cap);

private:
    size_t read(char* out, size_t cap, bool oneLine);
    // Next byte of the text stream, -1 at the end.
    int next();
    int rawByte();  // next byte of the file, -1 at its end or on error
    int peekRaw();
    // The next block of the file into the buffer; its length, 0 at the end or on error.
    size_t fill();

    InputFile file_;
    uint64_t size_ = 0;
    uint64_t rawPos_ = 0;
    int error_ = 0;
    bool ended_ = false;
    bool fileEnd_ = false;
    uint64_t bytesRead_ = 0;
    std::unique_ptr<Sha256> digest_;
    size_t pos_ = 0, len_ = 0;
    unsigned char buf_[64 * 1024];
};
