// The string table on Windows: the program's own string resources, loaded with LoadStringA.
#include <windows.h>

#include "platform/resources.h"

std::string resString(int id) {
    char buf[kResStringBufSize];
    // The texts are UTF-8 in the resources' code page; the manifest makes it the process's too.
    const int n = LoadStringA(GetModuleHandleA(nullptr), UINT(id), buf, int(sizeof buf));
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}
