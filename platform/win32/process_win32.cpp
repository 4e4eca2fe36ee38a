// Child processes on Windows: CreateProcessA with the output on an anonymous pipe; the
// console's Ctrl-C, Ctrl-Break and close as the interrupt.
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/process.h"

namespace {

HANDLE handleOf(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// One argument quoted as the C runtime reads a command line back.
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

struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

#ifndef ZT_TEST_HOOKS
#error "ZT_TEST_HOOKS must be 0 or 1 (the CMake option of the same name)"
#endif

#if ZT_TEST_HOOKS
// Room for a line of the child log: the flags and the program's path.
constexpr size_t kChildLogLineSize = MAX_PATH * 4 + 32;

// Whether a child opens a console window shows nowhere the tests under Wine can look while it
// runs: each child's creation flags go to the file ZEMTABULO_CHILD_LOG names, a line each, for
// them to check afterwards.
void logChildStart(const std::string& program, DWORD flags) {
    const char* path = std::getenv("ZEMTABULO_CHILD_LOG");
    if (!path || !*path) return;
    char line[kChildLogLineSize];
    const int n = std::snprintf(line, sizeof line, "flags=0x%08lx %s\r\n",
                                static_cast<unsigned long>(flags), program.c_str());
    if (n <= 0 || size_t(n) >= sizeof line) return;
    Handle log;
    log.h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (log.h != INVALID_HANDLE_VALUE) WriteFile(log.h, line, DWORD(n), &written, nullptr);
}
#else
void logChildStart(const std::string&, DWORD) {}
#endif

std::mutex g_interruptLock;
std::function<void(int)> g_interrupt;
bool g_interrupted = false;

BOOL WINAPI onConsoleEvent(DWORD type) {
    std::function<void(int)> handler;
    {
        std::lock_guard<std::mutex> lock(g_interruptLock);
        if (g_interrupted) return TRUE;
        g_interrupted = true;
        handler = g_interrupt;
    }
    // Runs on a thread the system made for the event; the program ends when it returns for
    // a console close, so the handler does its work here.
    if (handler) handler(type == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (started() && status_ < 0) {
        kill();
        wait();
    }
    if (out_ != -1) CloseHandle(handleOf(out_));
    if (pid_ != 0) CloseHandle(handleOf(pid_));
}

int ChildProcess::start(const std::vector<std::string>& argv, bool quietErrors) {
    if (argv.empty() || started()) return ERROR_INVALID_PARAMETER;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd, nul;
    if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0)) return int(GetLastError());
    SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0);
    nul.h = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul.h;
    si.hStdOutput = writeEnd.h;
    si.hStdError = quietErrors ? nul.h : GetStdHandle(STD_ERROR_HANDLE);
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + quoted(a);
    PROCESS_INFORMATION pi{};
    // A program without a console of its own (the station window) starts its console children
    // without one too: each would open a console window, and closing one would end its slot.
    const DWORD flags = GetConsoleWindow() ? 0 : CREATE_NO_WINDOW;
    if (!CreateProcessA(argv[0].c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        nullptr, &si, &pi))
        return int(GetLastError());
    logChildStart(argv[0], flags);
    CloseHandle(pi.hThread);
    pid_ = reinterpret_cast<intptr_t>(pi.hProcess);
    out_ = reinterpret_cast<intptr_t>(readEnd.h);
    readEnd.h = nullptr;
    status_ = -1;
    return 0;
}

long long ChildProcess::read(char* buf, size_t n) {
    DWORD got = 0;
    if (ReadFile(handleOf(out_), buf, DWORD(n), &got, nullptr)) return got;
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

// Windows has no polite request to a console program that is not in our console group: the
// child ends at once, and the system closes its port.
void ChildProcess::terminate() {
    kill();
}

void ChildProcess::kill() {
    if (started() && status_ < 0) TerminateProcess(handleOf(pid_), 128 + SIGTERM);
}

int ChildProcess::wait() {
    if (!started()) return -1;
    if (status_ >= 0) return status_;
    WaitForSingleObject(handleOf(pid_), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(handleOf(pid_), &code);
    status_ = int(code);
    return status_;
}

std::string selfExecutablePath() {
    char buf[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buf, DWORD(sizeof buf));
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

intptr_t parentProcessId() { return 0; }

void onInterrupt(std::function<void(int signal)> handler) {
    {
        std::lock_guard<std::mutex> lock(g_interruptLock);
        g_interrupt = std::move(handler);
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
