// What every route of zemtabulo-line answers with: JSON errors, and the mapping of database
// failures to HTTP statuses.
#pragma once

#include <httplib.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "line/pg.h"

constexpr int kOk = 200, kBadRequest = 400, kUnauthorized = 401, kTooLarge = 413,
              kServerError = 500, kUnavailable = 503;
constexpr const char* kJson = "application/json";

inline void replyError(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(nlohmann::json{{"error", why}}.dump(), kJson);
}

// Runs a request's database work; an outage is a 503 the client tries again after, a value the
// table refused a 400, anything else a 500 (with the server's words on stderr only).
template <typename Work>
void withDatabase(httplib::Response& res, Work&& work) {
    try {
        work();
    } catch (const PgUnavailable& e) {
        std::fprintf(stderr, "zemtabulo-line: database unavailable: %s\n", e.what());
        replyError(res, kUnavailable, "database unavailable");
    } catch (const PgError& e) {
        if (e.badValue()) return replyError(res, kBadRequest, e.what());
        std::fprintf(stderr, "zemtabulo-line: database error %s: %s\n", e.sqlState.c_str(),
                     e.what());
        replyError(res, kServerError, "database error");
    }
}
