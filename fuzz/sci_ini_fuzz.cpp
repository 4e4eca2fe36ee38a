// The SCI.INI reader on arbitrary file contents, and the writer and reader together on
// arbitrary port names. The port name is the first line's text before its line end, of at
// most the first 8 characters read, cut at a NUL and to 5 characters; a name of up to 5 plain
// characters written by the program reads back unchanged.
#include <cstring>
#include <string>

#include "app/startup.h"
#include "fuzz/fuzz_util.h"

namespace {

std::string modelPortName(const uint8_t* data, size_t size) {
    std::string text = textStreamModel(data, size);
    size_t lf = text.find('\n');
    if (lf != std::string::npos) text.resize(lf + 1);
    text = text.substr(0, kIniLineRead);
    text = text.substr(0, std::strlen(text.c_str()));
    text = text.substr(0, text.find_first_of("\r\n"));
    return text.substr(0, kPortNameMax);
}

bool plainName(const std::string& name) {
    if (name.size() > kPortNameMax) return false;
    for (char c : name)
        if (c == '\0' || c == '\r' || c == '\n' || c == '\x1a') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemFile file;
    file.fill(data, size);
    std::string name = "unchanged";
    FUZZ_CHECK(readPortName(file.path(), name));
    FUZZ_CHECK(name.size() <= kPortNameMax);
    FUZZ_CHECK(name == modelPortName(data, size));

    // The same bytes as a name the Port settings dialog saves.
    const std::string written(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(writePortName(file.path(), written));
    std::string read;
    FUZZ_CHECK(readPortName(file.path(), read));
    if (plainName(written)) FUZZ_CHECK(read == written);
    FUZZ_CHECK(read.size() <= kPortNameMax);
    return 0;
}
