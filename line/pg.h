// PostgreSQL through libpq: a connection and a result that free themselves, and queries whose
// values always travel as parameters, never inside the SQL text.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A parameter's text, or SQL NULL.
using PgParam = std::optional<std::string>;

// The server refused the statement (a constraint, a value it cannot convert, ...). `sqlState`
// tells which: class 22 is a value the client sent wrong.
struct PgError : std::runtime_error {
    PgError(const std::string& what, std::string state)
        : std::runtime_error(what), sqlState(std::move(state)) {}
    bool badValue() const { return sqlState.rfind("22", 0) == 0; }
    std::string sqlState;
};

// The server cannot be reached, or the connection broke under the statement: nothing the
// statement did is kept, and another attempt may succeed once the server is back.
struct PgUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PgResult {
  public:
    explicit PgResult(PGresult* r) : r_(r, &PQclear) {}
    int rows() const { return PQntuples(r_.get()); }
    bool isNull(int row, int col) const { return PQgetisnull(r_.get(), row, col) != 0; }
    PGresult* get() const { return r_.get(); }
    std::string text(int row, int col) const {
        return std::string(PQgetvalue(r_.get(), row, col), size_t(PQgetlength(r_.get(), row, col)));
    }

  private:
    std::unique_ptr<PGresult, decltype(&PQclear)> r_;
};

class PgConnection {
  public:
    // Connects with libpq's own reading of `conninfo` (keyword/value or URI, service files,
    // the PG* variables). Throws PgUnavailable when the server cannot be reached.
    explicit PgConnection(const std::string& conninfo);
    // Whether the connection is still believed usable (libpq learns of a break only by using it).
    bool ok() const { return PQstatus(c_.get()) == CONNECTION_OK; }
    // One statement with its parameters as text. Throws PgError when the server refuses it,
    // PgUnavailable when the connection is lost.
    PgResult exec(const std::string& sql, const std::vector<PgParam>& params = {});

  private:
    std::unique_ptr<PGconn, decltype(&PQfinish)> c_;
};

// BEGIN now; ROLLBACK when left without commit(), so that an exception stores nothing.
class PgTransaction {
  public:
    explicit PgTransaction(PgConnection& c) : c_(c) { c_.exec("BEGIN"); }
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    void commit() {
        c_.exec("COMMIT");
        done_ = true;
    }

  private:
    PgConnection& c_;
    bool done_ = false;
};
