// The HTTP client as a module of its own, loaded by platform/posix/http_posix.cpp on the first
// request. cpp-httplib brings OpenSSL's TLS, zlib and brotli: linked into every program they
// cost each start of a slot's child process some milliseconds that a child never needs.
#include <httplib.h>

#include "platform/posix/http_module.h"

extern "C" __attribute__((visibility("default"))) void zt_http_post_json(
    const HttpUrl& url, const std::string& token, const std::string& body,
    std::chrono::milliseconds timeout, HttpReply& reply) {
    const bool v6 = url.host.find(':') != std::string::npos;
    const std::string origin = url.scheme + "://" + (v6 ? "[" + url.host + "]" : url.host) + ":" +
                               std::to_string(url.port);
    httplib::Client client(origin);
    client.set_connection_timeout(timeout);
    client.set_read_timeout(timeout);
    client.set_write_timeout(timeout);
    client.set_bearer_token_auth(token);
    // A station's records must not go to whoever a redirect names.
    client.set_follow_location(false);
    const httplib::Result r =
        client.Post(url.path.empty() ? "/" : url.path, body, "application/json");
    if (!r) {
        reply.error = httplib::to_string(r.error());
        return;
    }
    reply.status = r->status;
    reply.body = r->body;
}
