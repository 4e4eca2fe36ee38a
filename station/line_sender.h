// Sends the device log's records to the line server from a thread of its own. The log is the
// queue: a record is sent only once it is on the disk there, and what the server has
// acknowledged is kept beside it (LOG.sent) as the log's length up to which every record is
// stored, so that records a dead server, a lost network or a killed program left behind go at
// the next wake or the next start. Records go in the log's order; one sent twice is stored once
// (the server knows it by its id). A record the server refuses (HTTP 400) is found by halving the
// batch, listed in LOG.refused and passed over, so that one bad record never holds back the
// others. Nothing here ever waits on a slot, nor a slot on it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/http.h"

// Records per request, and the bytes of JSON a request holds at most (the server takes 4 MiB).
constexpr size_t kSendBatchRecords = 500;
constexpr size_t kSendBatchBytes = 1024 * 1024;
// After a failed send: the first wait, doubled after each further failure up to the last.
constexpr std::chrono::milliseconds kSendRetryFirst{1000};
constexpr std::chrono::milliseconds kSendRetryMax{30000};
// How long one request may take to connect, to be sent, to be answered.
constexpr std::chrono::milliseconds kSendTimeout{10000};
// Records another program appended (a slot whose parent was gone) are looked for this often.
constexpr std::chrono::milliseconds kSendPollInterval{5000};
// What the command line waits at its end for the records not yet sent.
constexpr std::chrono::milliseconds kSendExitWait{2000};
// Once stopped, what the sender's thread is given to end when it is not inside a request.
constexpr std::chrono::milliseconds kSendStopWait{1000};

// The file beside the log that tells what the server has: "LOG.sent".
std::string sentPathOf(const std::string& logPath);
// The file beside the log that lists the records the server refused: "LOG.refused", a line each,
// "ID<TAB>the server's reason". They stay in the log; `zemtabulo-line import` stores them once
// their fault is mended.
std::string refusedPathOf(const std::string& logPath);

// The token: the file's first line without the blanks, CR and LF around it. Empty on success,
// else why there is none (the token itself is never in the text).
std::string readLineToken(const std::string& path, std::string& token);

// Where the records go: the server's address (its records path is added) and the token.
struct LineTarget {
    HttpUrl url;
    std::string token;
};

// The target from the address and the token's file; empty on success, else what is wrong.
std::string lineTargetOf(const std::string& url, const std::string& tokenFile, LineTarget& out);

// What the sender knows of the log, as its views show it.
struct SendState {
    size_t waiting = 0;    // records in the log the server has not acknowledged
    bool scanned = false;  // the log was read at least once (waiting is known)
    std::string problem;   // the last send's failure; empty after a success
    size_t refused = 0;    // records the server refused since the start, set aside
    bool failing = false;  // the last pass ended in a failure: the next waits its turn
};

class LineSender {
  public:
    // Starts the thread, which reads the log and sends at once. `changed` is called from it
    // whenever the state changes (may be empty).
    LineSender(std::string logPath, LineTarget target, std::function<void()> changed = {});
    // Stops the thread as finish(0) does.
    ~LineSender();
    LineSender(const LineSender&) = delete;
    LineSender& operator=(const LineSender&) = delete;

    // A record was appended: sent now, unless a failure's wait is running.
    void wake();
    // Tries for at most `bound` (the failure's wait cut short) to send what waits, then stops the
    // thread. A request still running at the bound is left to end with the program. The records
    // still waiting. From the owner's thread only.
    size_t finish(std::chrono::milliseconds bound);
    SendState state() const;

    struct Core;  // shared with the thread, which may outlive the sender by one request

  private:
    std::shared_ptr<Core> core_;
    std::thread thread_;  // joined once it has ended, else left to end with the program
};
