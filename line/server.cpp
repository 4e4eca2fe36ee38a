#include "line/server.h"

#include <httplib.h>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>
#include <unordered_set>

#include "line/http_reply.h"
#include "line/pool.h"
#include "line/records.h"
#include "line/schema.h"
#include "line/tokens.h"
#include "line/web.h"

namespace {

using nlohmann::json;

constexpr const char* kBearer = "Bearer ";

std::string bearerToken(const httplib::Request& req) {
    const std::string header = req.get_header_value("Authorization");
    if (header.rfind(kBearer, 0) != 0) return "";
    return header.substr(std::strlen(kBearer));
}

// Every id of the batch, each once, in the order sent: all are stored once the batch is.
json acknowledged(const std::vector<LogRecord>& records) {
    json ids = json::array();
    std::unordered_set<std::string> seen;
    for (const LogRecord& r : records)
        if (seen.insert(r.id).second) ids.push_back(r.id);
    return ids;
}

void postRecords(PgPool& pool, const httplib::Request& req, httplib::Response& res) {
    const std::string token = bearerToken(req);
    if (token.empty()) return replyError(res, kUnauthorized, "a bearer token is required");
    if (req.body.size() > kMaxBatchBytes) return replyError(res, kTooLarge, "body too large");
    std::vector<LogRecord> records;
    std::optional<uint64_t> waiting;
    const std::string refused = parseBatch(req.body, records, &waiting);
    withDatabase(res, [&] {
        // The token is checked before the body's faults are told, to a sender who may not send.
        const auto station = pool.run([&](PgConnection& db) {
            auto found = stationOfToken(db, token);
            if (found && refused.empty()) {
                insertRecords(db, *found, records);
                if (waiting) noteStationQueue(db, *found, *waiting);
            }
            return found;
        });
        if (!station) return replyError(res, kUnauthorized, "unknown token");
        if (!refused.empty()) return replyError(res, kBadRequest, refused);
        res.set_content(json{{"acknowledged", acknowledged(records)}}.dump(), kJson);
    });
}

void getRecords(PgPool& pool, const httplib::Request& req, httplib::Response& res) {
    std::vector<std::pair<std::string, std::string>> params(req.params.begin(), req.params.end());
    RecordQuery query;
    if (std::string why = parseRecordQuery(params, query); !why.empty())
        return replyError(res, kBadRequest, why);
    withDatabase(res, [&] {
        const std::string body =
            pool.run([&](PgConnection& db) { return listRecordsJson(db, query); });
        res.set_content(body, kJson);
    });
}

void getHealth(PgPool& pool, httplib::Response& res) {
    withDatabase(res, [&] {
        const int version = pool.run([](PgConnection& db) { return schemaVersion(db); });
        const bool current = version == newestSchemaVersion();
        res.status = current ? kOk : kUnavailable;
        res.set_content(json{{"status", current ? "ok" : "schema not current: run init"},
                             {"schema_version", version}}
                            .dump(),
                        kJson);
    });
}

std::string refusalText(int status) {
    switch (status) {
        case 404:
            return "no such resource";
        case kTooLarge:
            return "body too large";
        default:
            return "request refused";
    }
}

void route(httplib::Server& server, PgPool& pool, const ServeOptions& o) {
    server.Post("/api/v1/records", [&](const httplib::Request& req, httplib::Response& res) {
        postRecords(pool, req, res);
    });
    server.Get("/api/v1/records", [&](const httplib::Request& req, httplib::Response& res) {
        getRecords(pool, req, res);
    });
    server.Get("/api/v1/health",
               [&](const httplib::Request&, httplib::Response& res) { getHealth(pool, res); });
    routeDashboard(server, pool, o.web);
    // Refusals the library makes itself (413, 404, ...) get a JSON body too.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            replyError(res, res.status, refusalText(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "zemtabulo-line: request failed: %s\n", e.what());
            } catch (...) {
            }
            replyError(res, kServerError, "internal error");
        });
}

// "ADDR:PORT", the address of IPv6 in brackets. False when the port is missing or no number.
bool splitListen(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string digits = text.substr(colon + 1);
    constexpr int kMaxPort = 65535;
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return !host.empty() && port <= kMaxPort;
}

std::unique_ptr<httplib::Server> makeServer(const ServeOptions& o) {
    if (o.cert.empty()) return std::make_unique<httplib::Server>();
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    return std::make_unique<httplib::SSLServer>(o.cert.c_str(), o.key.c_str());
#else
    std::fprintf(stderr, "zemtabulo-line: this build has no TLS: serve behind a proxy\n");
    return nullptr;
#endif
}

// Stops the server on SIGINT or SIGTERM. The signals are blocked in every thread (the
// library's too, as they start after this), so only this one takes them, outside any handler.
class StopOnSignal {
  public:
    explicit StopOnSignal(httplib::Server& server) {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        waiter_ = std::thread([this, &server] {
            int sig = 0;
            sigwait(&set_, &sig);
            server.stop();
        });
    }
    ~StopOnSignal() {
        pthread_kill(waiter_.native_handle(), SIGTERM);
        waiter_.join();
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

  private:
    sigset_t set_;
    std::thread waiter_;
};

void warnAboutSchema(PgPool& pool) {
    try {
        const int version = pool.run([](PgConnection& db) { return schemaVersion(db); });
        if (version != newestSchemaVersion())
            std::fprintf(stderr, "zemtabulo-line: the schema is at version %d, not %d: run init\n",
                         version, newestSchemaVersion());
    } catch (const std::exception& e) {
        // Served anyway: the requests get 503 until the database is back.
        std::fprintf(stderr, "zemtabulo-line: database not reachable yet: %s\n", e.what());
    }
}

}  // namespace

int serveLine(const ServeOptions& o) {
    std::string host;
    int port = 0;
    if (!splitListen(o.listen, host, port)) {
        std::fprintf(stderr, "zemtabulo-line: --listen wants ADDR:PORT, not %s\n",
                     o.listen.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    PgPool pool(o.db, o.connections);
    warnAboutSchema(pool);
    const std::unique_ptr<httplib::Server> server = makeServer(o);
    if (!server || !server->is_valid()) {
        std::fprintf(stderr, "zemtabulo-line: cannot use the certificate and key given\n");
        return 1;
    }
    const size_t threads = o.threads;
    server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server->set_payload_max_length(kMaxBatchBytes);
    route(*server, pool, o);
    const int bound = port == 0                          ? server->bind_to_any_port(host)
                      : server->bind_to_port(host, port) ? port
                                                         : -1;
    if (bound < 0) {
        std::fprintf(stderr, "zemtabulo-line: cannot listen on %s\n", o.listen.c_str());
        return 1;
    }
    const bool v6 = host.find(':') != std::string::npos;
    std::printf("listening on %s://%s%s%s:%d\n", o.cert.empty() ? "http" : "https", v6 ? "[" : "",
                host.c_str(), v6 ? "]" : "", bound);
    std::fflush(stdout);
    StopOnSignal stop(*server);
    server->listen_after_bind();
    return 0;
}
