// A few database connections shared by the request threads, made again after the server
// restarted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/pg.h"

class PgPool {
  public:
    PgPool(std::string conninfo, size_t size) : conninfo_(std::move(conninfo)), size_(size) {}

    // Runs `work` on a connection. A connection that had lain idle may have been cut while the
    // server restarted, which shows only when it is used: then `work` runs once more on a new
    // connection, so `work` must be safe to repeat (one statement, or one transaction). Throws
    // PgUnavailable when the server cannot be reached or no connection frees up in time; PgError
    // as `work` does.
    template <typename Work>
    auto run(Work&& work) {
        for (bool retried = false;; retried = true) {
            Lease lease(*this);
            try {
                auto result = work(*lease.connection);
                return result;
            } catch (const PgUnavailable&) {
                lease.connection.reset();
                if (retried || !lease.reused) throw;
                // The others lay idle through the same restart: none is worth trying.
                dropIdle();
            }
        }
    }

  private:
    void dropIdle();

    // One connection taken from the pool, given back (when still good) at the end.
    struct Lease {
        explicit Lease(PgPool& pool);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        PgPool& pool;
        std::unique_ptr<PgConnection> connection;
        bool reused = false;
    };

    const std::string conninfo_;
    const size_t size_;
    std::mutex lock_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
    size_t leased_ = 0;
};
