#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "platform/http.h"
#include "platform/posix/http_module.h"

namespace {

std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    const std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/') + 1);
}

struct HttpModule {
    HttpModuleEntry entry = nullptr;
    std::string error;  // why it could not be loaded
};

// Loaded once, on the first request, and kept for the program's life: a slot's child, which
// sends nothing, never pays for it.
const HttpModule& httpModule() {
    static HttpModule module;
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string path = programFolder() + kHttpModulePath;
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) module.entry = reinterpret_cast<HttpModuleEntry>(dlsym(handle, kHttpModuleEntry));
        if (!module.entry) {
            const char* why = dlerror();
            module.error = "the HTTP client " + path + " cannot be loaded" +
                           (why ? std::string(": ") + why : std::string());
        }
    });
    return module;
}

}  // namespace

HttpReply httpPostJson(const HttpUrl& url, const std::string& token, const std::string& body,
                       std::chrono::milliseconds timeout) {
    HttpReply reply;
    const HttpModule& module = httpModule();
    if (!module.entry) {
        reply.error = module.error;
        return reply;
    }
    module.entry(url, token, body, timeout, reply);
    return reply;
}
