// The write job: a port, the settings and a data file in; the device written and its sum read
// out. The job keeps no state outside the objects it is given, so several may run at once,
// each on its own thread and channel. What a front end shows of it comes through a
// JobObserver; how it ended is the JobResult it returns.
#pragma once

#include <cstdint>
#include <string>

#include "serial/channel.h"
#include "writer/settings.h"

// Steps that are not a device command of their own (those carry their step in the table).
namespace jobstep {
inline constexpr const char* kNone = "";
inline constexpr const char* kOpen = "open";  // the port open before the job
inline constexpr const char* kData = "data";  // the data file and its pieces
}  // namespace jobstep

// The status line texts of a job, as the operator knows them.
namespace jobtext {
inline constexpr const char* kPortUnusable = "ﾎﾟｰﾄが使用できません";
inline constexpr const char* kScreenWrite = "画面書込み";
inline constexpr const char* kEraseStart = "ﾃﾞｰﾀ領域ﾌﾗｯｼｭ消去開始";
inline constexpr const char* kEraseEnd = "ﾌﾗｯｼｭ消去終了";
inline constexpr const char* kDataPhase = "ﾃﾞｰﾀ書き込み中";
inline constexpr const char* kDataEnd = "ﾃﾞｰﾀ書込み終了";
inline constexpr const char* kBadData = "画面ﾃﾞｰﾀ異常";
inline constexpr const char* kWritten = "書き込み終了";
inline constexpr const char* kSumPrefix = "データ sum=";
inline constexpr const char* kSettingsSaved = " 設定保存済";
}  // namespace jobtext

enum class SumState { None, Read, Unreadable };

struct JobResult {
    std::string step;    // the step the job was at when it ended
    std::string reason;  // the first failure's reason in words; empty when none
    SumState sumState = SumState::None;
    std::string sum;     // as the device answered, when read
    uint64_t sent = 0;   // bytes of the data file read and sent (or skipped)
    uint64_t total = 0;  // the data file's size
    // SHA-256 (lowercase hex) and count of the data file's bytes as the job read them from the
    // disk, in order; `dataWhole` when that was the file to its end (past a 0x1A too), so that
    // the digest is the file's. Empty and 0 when the job never reached the data.
    std::string dataSha256;
    uint64_t dataBytes = 0;
    bool dataWhole = false;
    int openError = 0;   // the system's error code when the port did not open
    // The port failed under the job (PortFault): the operation and the system's error code.
    const char* portFaultOp = nullptr;
    int portFaultError = 0;
    bool portFault() const { return portFaultOp != nullptr; }
};

// What a front end follows of a job. Called on the job's thread, in the order things happen;
// the defaults ignore it.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    // The status line's text (empty clears it).
    virtual void status(const std::string& text) { (void)text; }
    // The progress bar: its range 0..high, then positions in it.
    virtual void progressRange(int32_t high) { (void)high; }
    virtual void progressPos(int32_t pos) { (void)pos; }
    virtual void step(const char* step) { (void)step; }
    // Bytes of the data file read and sent (or skipped) so far, out of its size.
    virtual void dataProgress(uint64_t sent, uint64_t total) { (void)sent, (void)total; }
    // The screen data and the settings are in the device; the sum query follows.
    virtual void written() {}
    // The sum has been answered: `text` is what the operator is shown, `sum` the sum or
    // nullptr when the reply could not be read. The job goes on when this returns (the
    // desktop program waits here for its box to be closed).
    virtual void sumRead(const std::string& text, const char* sum) { (void)text, (void)sum; }
};

// The data file as it was when the run began (hashed by the caller). A job given it sends
// nothing past its size and seals nothing else: a file that changes under the write fails at
// the data step, before the save end, as a NUL byte does.
struct DataIdentity {
    std::string sha256;  // lowercase hex; empty: not known, nothing is compared
    uint64_t bytes = 0;
    bool known() const { return !sha256.empty(); }
};

// Why a job refused its data file: the digest it was started with and the one it read.
std::string dataChangedText(const std::string& atStart, const std::string& sent);
// The same for a file that grew past its size at the start.
std::string dataGrewText(uint64_t bytesAtStart);
// A digest shortened for a reason in words: enough to tell two apart.
std::string shortDigest(const std::string& hex);

// Port open attempts of one Start: a port another program holds a moment longer gets a few.
constexpr int kOpenPasses = 8;

// Opens the job's port: up to kOpenPasses tries, the status line cleared before each and
// "ﾎﾟｰﾄが使用できません" after each that fails. 0 when open, else the last system error code
// (then the result has the step "open" and the reason).
int openJobPort(Channel& ch, const std::string& portName, JobObserver& obs, JobResult& result);

// The job over an opened channel: the data file is opened and checked before anything is
// sent, then the screen data, the settings and the sum query. Ends with the port closed,
// however it went; a port that fails under the job ends it with the fault in the result.
JobResult runWriteJob(Channel& ch, const WriteSettings& settings, const std::string& dataPath,
                      JobObserver& obs, const DataIdentity& atStart = {});
