// The one HTTP request the stations make: a JSON body posted with a bearer token. Plain HTTP and
// HTTPS; the system's backend (cpp-httplib on POSIX, WinHTTP on Windows) does the rest.
#pragma once

#include <chrono>
#include <string>

struct HttpReply {
    int status = 0;     // the HTTP status; 0 when no answer came
    std::string body;   // the answer's body
    std::string error;  // why no answer came (refused, timed out, no such host); empty otherwise
};

// An http:// or https:// address split into what a client connects to and the path below it.
struct HttpUrl {
    std::string scheme;  // "http" or "https"
    std::string host;    // without brackets for IPv6
    int port = 0;        // the scheme's when the address names none
    std::string path;    // "/..." or empty
};

// False when `url` is no http:// or https:// address with a host and a port of 1 to 65535.
bool parseHttpUrl(const std::string& url, HttpUrl& out);

// POSTs `body` (application/json) to `url` with `Authorization: Bearer token`. Each of the
// connect, the send and the wait for the answer gives up after `timeout`.
HttpReply httpPostJson(const HttpUrl& url, const std::string& token, const std::string& body,
                       std::chrono::milliseconds timeout);
