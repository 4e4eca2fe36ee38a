#include "line/pool.h"

namespace {

// How long a request waits for a connection that every other thread holds.
constexpr auto kLeaseWait = std::chrono::seconds(10);

}  // namespace

PgPool::Lease::Lease(PgPool& p) : pool(p) {
    {
        std::unique_lock<std::mutex> hold(pool.lock_);
        if (!pool.freed_.wait_for(hold, kLeaseWait, [&] { return pool.leased_ < pool.size_; }))
            throw PgUnavailable("every database connection is busy");
        ++pool.leased_;
        if (!pool.idle_.empty()) {
            connection = std::move(pool.idle_.back());
            pool.idle_.pop_back();
            reused = true;
            return;
        }
    }
    // Connecting takes a round trip or a time-out: not under the lock.
    try {
        connection = std::make_unique<PgConnection>(pool.conninfo_);
    } catch (...) {
        std::lock_guard<std::mutex> hold(pool.lock_);
        --pool.leased_;
        pool.freed_.notify_one();
        throw;
    }
}

PgPool::Lease::~Lease() {
    std::lock_guard<std::mutex> hold(pool.lock_);
    if (connection && connection->ok()) pool.idle_.push_back(std::move(connection));
    --pool.leased_;
    pool.freed_.notify_one();
}

void PgPool::dropIdle() {
    std::lock_guard<std::mutex> hold(lock_);
    idle_.clear();
}
