// COMPORTS.INI parsing on arbitrary file contents and port names. A device path is used as
// given; a COMn name (trailing blanks ignored) maps to the value of the first "COMn = /path"
// line, else to /dev/ttyS(n-1); any other name maps to nothing, so that its open fails.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
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

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
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

    const std::string device = portDeviceName(portName);
    if (!portName.empty() && portName[0] == '/') {
        FUZZ_CHECK(device == portName);
        return 0;
    }
    const unsigned n = modelComNumber(portName);
    if (n == 0) {
        FUZZ_CHECK(device.empty());
        return 0;
    }
    FUZZ_CHECK(!device.empty() && device[0] == '/');
    if (device == "/dev/ttyS" + std::to_string(n - 1)) return 0;
    // Otherwise a value from the file: one whole line's text after its '=', blanks trimmed.
    FUZZ_CHECK(device.find('\n') == std::string::npos);
    FUZZ_CHECK(!isBlank(device.back()));
    FUZZ_CHECK(contents.find(device) != std::string::npos);
    FUZZ_CHECK(contents.find('=') != std::string::npos);
    return 0;
}
