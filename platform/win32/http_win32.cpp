// WinHTTP: a system DLL, so the zip carries no HTTP library; HTTPS through the system's
// certificate store.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/http.h"
#include "platform/serial.h"

namespace {

// Bytes asked for per read of the answer.
constexpr DWORD kReadChunk = 16 * 1024;
// An answer larger than this is no answer of the line server's.
constexpr size_t kMaxAnswerBytes = 1024 * 1024;

class Handle {
  public:
    explicit Handle(HINTERNET h) : h_(h) {}
    ~Handle() {
        if (h_) WinHttpCloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    HINTERNET h_;
};

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

HttpReply failed(const char* step) {
    HttpReply r;
    r.error = std::string(step) + ": " + systemErrorText(int(GetLastError()));
    return r;
}

bool readBody(HINTERNET request, std::string& body) {
    for (;;) {
        char buf[kReadChunk];
        DWORD got = 0;
        if (!WinHttpReadData(request, buf, sizeof buf, &got)) return false;
        if (got == 0) return true;
        body.append(buf, got);
        if (body.size() > kMaxAnswerBytes) return false;
    }
}

}  // namespace

HttpReply httpPostJson(const HttpUrl& url, const std::string& token, const std::string& body,
                       std::chrono::milliseconds timeout) {
    const int ms = int(timeout.count());
    Handle session(WinHttpOpen(L"zemtabulo", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return failed("open");
    WinHttpSetTimeouts(session.get(), ms, ms, ms, ms);
    Handle connection(
        WinHttpConnect(session.get(), wide(url.host).c_str(), INTERNET_PORT(url.port), 0));
    if (!connection) return failed("connect");
    const std::wstring path = wide(url.path.empty() ? "/" : url.path);
    Handle request(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      url.scheme == "https" ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return failed("request");
    // A station's records must not go to whoever a redirect names.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                     sizeof noRedirects);
    const std::wstring headers =
        L"Content-Type: application/json\r\nAuthorization: Bearer " + wide(token) + L"\r\n";
    if (!WinHttpSendRequest(request.get(), headers.c_str(), DWORD(-1L),
                            const_cast<char*>(body.data()), DWORD(body.size()), DWORD(body.size()),
                            0))
        return failed("send");
    if (!WinHttpReceiveResponse(request.get(), nullptr)) return failed("answer");
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return failed("status");
    HttpReply reply;
    if (!readBody(request.get(), reply.body)) return failed("read");
    reply.status = int(status);
    return reply;
}
