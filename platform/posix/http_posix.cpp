#include <httplib.h>

#include "platform/http.h"

HttpReply httpPostJson(const HttpUrl& url, const std::string& token, const std::string& body,
                       std::chrono::milliseconds timeout) {
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
    HttpReply reply;
    const httplib::Result r =
        client.Post(url.path.empty() ? "/" : url.path, body, "application/json");
    if (!r) {
        reply.error = httplib::to_string(r.error());
        return reply;
    }
    reply.status = r->status;
    reply.body = r->body;
    return reply;
}
