// COMPORTS.INI parsing on arbitrary file contents and port names, against a model of the
// lookup: a COMn name (trailing blanks ignored) maps to the value of the first line
// "key = /path" whose key names the same number, else to /dev/ttyS(n-1); an absolute path is
// used as given, a name holding another '/' is taken from the working directory, a bare
// "tty..." is under /dev; any other name maps to nothing, so that its open fails.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_util.h"
#include "platform/serial.h"

namespace {

// The COM number of a name, 0 when it is none.
unsigned modelComNumber(std::string name) {
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.size() < 4 || name.size() > 8) return 0;
    std::string head = name.substr(0, 3);
    for (char& c : head) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (head != "COM") return 0;
    unsigned n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + unsigned(name[i] - '0');
    }
    return n;
}

std::string trimModel(const std::string& s) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The device for `portName`. Lines are cut at LF and trimmed; empty ones and those starting
// with '#' are comments, those without '=' are skipped. A key may name the number in another
// spelling ("com04"); a value must be an absolute path, else the line does not count.
std::string modelDevice(const std::string& portName, const std::string& contents) {
    const unsigned n = modelComNumber(portName);
    if (n == 0 && !portName.empty() && portName[0] == '/') return portName;
    if (n == 0 && portName.find('/') != std::string::npos)
        return std::filesystem::current_path().string() + "/" + portName;
    if (n == 0 && portName.size() > 3 && portName.compare(0, 3, "tty") == 0)
        return "/dev/" + portName;
    if (n == 0) return std::string();
    for (size_t at = 0; at < contents.size();) {
        const size_t end = std::min(contents.find('\n', at), contents.size());
        const std::string line = trimModel(contents.substr(at, end - at));
        at = end + 1;
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        const std::string value = trimModel(line.substr(eq + 1));
        if (modelComNumber(trimModel(line.substr(0, eq))) == n && !value.empty() && value[0] == '/')
            return value;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

void writeIni(const std::string& contents) {
    int fd = ::open("COMPORTS.INI", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, contents.data(), contents.size()) == ssize_t(contents.size()));
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // COMPORTS.INI is read from the working directory: give the run one of its own.
    FUZZ_CHECK(chdir(scratchFolder("comports").c_str()) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string portName = in.ConsumeRandomLengthString(12);
    const std::string contents = in.ConsumeRemainingBytesAsString();
    writeIni(contents);

    FUZZ_CHECK(portDeviceName(portName) == modelDevice(portName, contents));
    return 0;
}
