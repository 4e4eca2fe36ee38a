// The device's command set, in the order of one write job: what is sent, what reply is
// relied upon, and how long it may take. The writer sends from this table and the simulated
// device answers from it.
#pragma once

#include <cstdint>

// How a reply wait accepts a line.
enum class ReplyKind {
    None,     // no reply is awaited
    Prefix,   // the line begins with `reply`
    AnyLine,  // the first complete line, whatever it says
    Framed,   // the line begins with STX
};

struct DeviceCommand {
    const char* text;     // command text (the frame's content when framed)
    bool framed;          // sent as STX text ETX sum
    const char* lineEnd;  // written after the command ("" when the text carries its own)
    ReplyKind replyKind;
    const char* reply;  // expected beginning of the reply line (Prefix only)
    uint32_t timeoutMs;
    const char* step;  // the job's step while this command awaits its reply ("" for none)
};

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;

namespace device {

inline constexpr DeviceCommand kFlashMode{
    "FWS", true, "\r\n", ReplyKind::Prefix, "FlashRom Mode Start", 5000, "fws"};
inline constexpr DeviceCommand kSaveStart{"FS\n", false, "", ReplyKind::Prefix, "Data Save Start",
                                          5000,   "fs"};
inline constexpr DeviceCommand kImageErase{"Fimageerase\n",   false,  "",     ReplyKind::Prefix,
                                           "Image Erase End", 180000, "erase"};
inline constexpr DeviceCommand kPageErase{"Fpageerase\n",       false,  "",     ReplyKind::Prefix,
                                          "PageData Erase End", 180000, "erase"};
inline constexpr DeviceCommand kSaveEnd{"Fs\n",          false, "",      ReplyKind::Prefix,
                                        "Data Save End", 5000,  "fs_end"};
inline constexpr DeviceCommand kWriteEnd{"FWE\n", false, "", ReplyKind::AnyLine, "", 5000, "fwe"};
// Register writes ("WD <register> <value>") and "UC" are framed and followed by "\n"; no reply.
inline constexpr const char* kRegisterLineEnd = "\n";
inline constexpr DeviceCommand kUpdate{"UC", true, "\n", ReplyKind::None, "", 0, ""};
inline constexpr DeviceCommand kSumQuery{"Sb", true, "\r\n", ReplyKind::Framed, "", 30000, "sb"};

// During the data phase one reply line is polled and dropped after every this many pieces.
inline constexpr int kPiecesPerPoll = 11;
// Pauses of the settings transfer and before the sum query.
inline constexpr uint32_t kSettingsPauseMs = 1000;
inline constexpr uint32_t kFlashModePauseMs = 1000;
inline constexpr uint32_t kSumQueryPauseMs = 3000;
// Line speed of a write job; the port is opened at kOpenBaud.
inline constexpr uint32_t kOpenBaud = 4800;
inline constexpr uint32_t kWriteBaud = 38400;

}  // namespace device
