// zt_console_driver.exe: runs a console program in a console of its own and does to that console
// what an operator does to the window it would be in on a line PC: Ctrl-C, or closing it, once
// the test says the moment has come. tools/wine/console.sh drives it.
//
//   zt_console_driver.exe EVENT TRIGGER OUTPUT PROGRAM [ARG...]
//
// EVENT is ctrl-c or close. The program's standard output and error go to the file
// OUTPUT; the event goes out once the file TRIGGER exists. The driver's own exit status is the
// program's; its report lines go to its own standard error.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// How long the program may run before the trigger, and then before it ends after the event.
constexpr DWORD kTriggerWaitMs = 60000;
constexpr DWORD kEndWaitMs = 30000;
constexpr DWORD kPollMs = 20;
// Exit statuses of the driver's own failures, beyond any the tested programs use.
constexpr int kUsage = 200;
constexpr int kSetupFailed = 201;
constexpr int kNoTrigger = 202;
constexpr int kEventFailed = 203;
constexpr int kStillRunning = 204;

// The driver's standard error as it was before the console was swapped for a new one.
HANDLE g_report = INVALID_HANDLE_VALUE;

void report(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(g_report, text.data(), DWORD(text.size()), &written, nullptr);
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE v) : h(v) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    bool ok() const { return h && h != INVALID_HANDLE_VALUE; }
};

// One argument as the C runtime reads it back from a command line.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// The driver outlives the events it sends into its own console.
BOOL WINAPI survive(DWORD) {
    return TRUE;
}

bool exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Waits for the trigger file; false when the program ended first or the wait ran out.
bool awaitTrigger(const char* trigger, HANDLE program) {
    for (DWORD waited = 0; waited < kTriggerWaitMs; waited += kPollMs) {
        if (exists(trigger)) return true;
        if (WaitForSingleObject(program, kPollMs) == WAIT_OBJECT_0) {
            report("the program ended before the trigger");
            return false;
        }
    }
    report("no trigger within the wait");
    return false;
}

// Windows tells a process its console is closing by starting a thread in it at kernelbase's
// CtrlRoutine; the process ends when its handlers return, or after this long.
constexpr DWORD kCloseAllowanceMs = 5000;
constexpr DWORD kMaxConsoleProcesses = 64;
constexpr DWORD kCloseAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                               PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                               PROCESS_TERMINATE | SYNCHRONIZE;

struct Closing {
    DWORD pid = 0;
    Handle process;
    Handle thread;
};

// Starts the close's thread in process PID; false when it cannot be opened or reached.
bool startClose(DWORD pid, LPTHREAD_START_ROUTINE routine, Closing& c) {
    c.pid = pid;
    c.process.h = OpenProcess(kCloseAccess, FALSE, pid);
    if (!c.process.ok()) return false;
    c.thread.h = CreateRemoteThread(c.process.h, nullptr, 0, routine,
                                    reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr);
    if (!c.thread.ok())
        report("process " + std::to_string(pid) + ": no thread for the close, error " +
               std::to_string(GetLastError()));
    return c.thread.ok();
}

// The console's close as Windows delivers it: the event on a thread of the system's in every
// other process on the console, each process ended once its handler returned or its allowance
// ran out. Wine closes a console otherwise: when its host goes, every process on it is ended at
// once with status 0 and no handler runs, which leaves nothing of ours to test.
//
// The program the driver started comes last: its handler ends the processes it started, and
// under Wine a thread started in a process that is being ended can wait for ever.
bool closeConsole(DWORD program) {
    auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
    DWORD ids[kMaxConsoleProcesses];
    const DWORD count = GetConsoleProcessList(ids, kMaxConsoleProcesses);
    if (!routine || count == 0 || count > kMaxConsoleProcesses) return false;
    Closing closing[kMaxConsoleProcesses];
    size_t started = 0;
    const DWORD startTick = GetTickCount();
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] != GetCurrentProcessId() && ids[i] != program)
            startClose(ids[i], routine, closing[started++]);
    }
    startClose(program, routine, closing[started++]);
    for (size_t i = 0; i < started; ++i) {
        Closing& c = closing[i];
        if (!c.thread.ok()) continue;
        const DWORD spent = GetTickCount() - startTick;
        const DWORD left = spent < kCloseAllowanceMs ? kCloseAllowanceMs - spent : 0;
        const bool returned = WaitForSingleObject(c.thread.h, left) == WAIT_OBJECT_0;
        const std::string after = std::to_string(GetTickCount() - startTick) + " ms";
        report("process " + std::to_string(c.pid) +
               (returned ? ": handler returned after " + after : ": ended, handler still running"));
        TerminateProcess(c.process.h, STATUS_CONTROL_C_EXIT);
    }
    return true;
}

bool sendEvent(const std::string& event, DWORD program) {
    if (event == "ctrl-c") return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    if (event == "close") return closeConsole(program);
    return false;
}

int run(const std::string& event, const char* trigger, const char* output,
        const std::string& line) {
    // A console of the program's own, as on a line PC, not the one Wine gave the driver.
    FreeConsole();
    if (!AllocConsole()) {
        report("AllocConsole failed: " + std::to_string(GetLastError()));
        return kSetupFailed;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle out(CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr));
    Handle in(
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!out.ok() || !in.ok()) return kSetupFailed;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.h;
    si.hStdOutput = out.h;
    si.hStdError = out.h;
    PROCESS_INFORMATION pi{};
    std::string mutableLine = line;
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &si, &pi)) {
        report("CreateProcess failed: " + std::to_string(GetLastError()));
        return kSetupFailed;
    }
    Handle program(pi.hProcess);
    CloseHandle(pi.hThread);
    // Set after the start: the program must not inherit a console that ignores Ctrl-C.
    SetConsoleCtrlHandler(survive, TRUE);
    if (!awaitTrigger(trigger, program.h)) return kNoTrigger;
    if (!sendEvent(event, pi.dwProcessId)) {
        report("the " + event + " did not go out: " + std::to_string(GetLastError()));
        TerminateProcess(program.h, kEventFailed);
        return kEventFailed;
    }
    report(event + " sent");
    if (WaitForSingleObject(program.h, kEndWaitMs) != WAIT_OBJECT_0) {
        report("the program did not end after the " + event);
        TerminateProcess(program.h, kStillRunning);
        return kStillRunning;
    }
    DWORD status = 0;
    GetExitCodeProcess(program.h, &status);
    report("exit status " + std::to_string(status));
    return int(status);
}

}  // namespace

int main(int argc, char** argv) {
    g_report = GetStdHandle(STD_ERROR_HANDLE);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ctrl-c|close TRIGGER OUTPUT PROGRAM [ARG...]\n", argv[0]);
        return kUsage;
    }
    std::string line;
    for (int i = 4; i < argc; ++i) line += (line.empty() ? "" : " ") + quoted(argv[i]);
    return run(argv[1], argv[2], argv[3], line);
}
