#include "writer/frame.h"

#include <cstring>

#include "serial/commands.h"

namespace {
char hexDigit(unsigned d) { return char(d < 10 ? '0' + d : 'a' + (d - 10)); }
}  // namespace

void frameSum(const char* text, char sum[3]) {
    unsigned s = 0;
    for (const char* p = text; *p; ++p) s ^= static_cast<unsigned char>(*p);
    sum[0] = hexDigit(s >> 4);
    sum[1] = hexDigit(s & 0x0f);
    sum[2] = '\0';
}

std::string frameBuild(const char* text) {
    char sum[3];
    frameSum(text, sum);
    std::string out;
    out.reserve(std::strlen(text) + 4);
    out += kStx;
    out += text;
    out += kEtx;
    out += sum;
    return out;
}

char* frameParse(const char* reply, char (&text)[kFrameTextSize]) {
    if (reply[0] != kStx) return nullptr;
    const char* p = reply + 1;
    size_t n = 0;
    while (p[n] != kEtx) {
        // No ETX among the bytes that fit the text buffer, or the reply ends first.
        if (p[n] == '\0' || n == kFrameTextSize - 1) return nullptr;
        text[n] = p[n];
        ++n;
    }
    text[n] = '\0';
    char sum[3];
    frameSum(text, sum);
    return std::strcmp(p + n + 1, sum) == 0 ? text : nullptr;
}
