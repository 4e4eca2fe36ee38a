#include "line/pg.h"

#include <cstdlib>

namespace {

// A server that does not answer at all (a host gone from the network) must not hold a request
// thread for minutes; PGCONNECT_TIMEOUT or the connection string may still say otherwise.
constexpr const char* kDefaultConnectTimeout = "5";

std::string lastError(PGconn* c) {
    std::string text = c ? PQerrorMessage(c) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

PgConnection::PgConnection(const std::string& conninfo) : c_(nullptr, &PQfinish) {
    // expand_dbname: the string is read as a whole connection string; what it names overrides
    // the time-out given before it.
    const char* timeout = std::getenv("PGCONNECT_TIMEOUT") ? nullptr : kDefaultConnectTimeout;
    const char* keys[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {timeout, conninfo.c_str(), nullptr};
    c_.reset(PQconnectdbParams(timeout ? keys : keys + 1, timeout ? values : values + 1, 1));
    if (!ok()) throw PgUnavailable(lastError(c_.get()));
    // "Already exists, skipping" and the like are for people at psql, not for a server's stderr.
    PQsetNoticeProcessor(
        c_.get(), [](void*, const char*) {}, nullptr);
    // Times without a zone (a query's from and to) are read as UTC, whatever the server's zone.
    exec("SET TIME ZONE 'UTC'");
}

PgResult PgConnection::exec(const std::string& sql, const std::vector<PgParam>& params) {
    std::vector<const char*> values;
    for (const PgParam& p : params) values.push_back(p ? p->c_str() : nullptr);
    PgResult r(PQexecParams(c_.get(), sql.c_str(), int(values.size()), nullptr, values.data(),
                            nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
    // A broken connection also shows as a fatal result; libpq marks the connection bad then.
    if (!ok() || !r.get()) throw PgUnavailable(lastError(c_.get()));
    const char* field = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
    const std::string state = field ? field : "";
    const char* primary = PQresultErrorField(r.get(), PG_DIAG_MESSAGE_PRIMARY);
    const std::string text = primary ? primary : lastError(c_.get());
    // Class 08 (the connection) and 57P (the server shutting down or starting up) pass.
    if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0) throw PgUnavailable(text);
    throw PgError(text, state);
}

PgTransaction::~PgTransaction() {
    if (done_ || !c_.ok()) return;
    try {
        c_.exec("ROLLBACK");
    } catch (const std::exception&) {
        // The connection is gone: the server ends the transaction itself.
    }
}
