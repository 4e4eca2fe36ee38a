// A PostgreSQL 15 cluster of its own in a temporary folder, reached only through a Unix socket
// there: no port is taken, and nothing of the machine's own clusters is touched. initdb
// refuses root, so as root the cluster's programs run as the postgres user.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_program.h"

class PgCluster {
  public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";
    static constexpr const char* kAdmin = "ztadmin";

    // `durable` false turns fsync off: a test's data need not outlive a power cut.
    explicit PgCluster(bool durable = false) : durable_(durable) {
        char name[] = "/tmp/zt-pg-XXXXXX";
        if (!mkdtemp(name)) return;
        dir_ = name;
        // The server's user must enter the folder; the socket is made in it.
        chmod(dir_.c_str(), 0755);
        if (geteuid() == 0 && std::system(("chown postgres " + dir_).c_str()) != 0) return;
        const ProgramResult r = asOwner({std::string(kBin) + "initdb", "-D", data(), "-U", kAdmin,
                                         "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"});
        initError_ = r.status == 0 ? "" : r.out + r.err;
        if (initError_.empty()) start();
    }
    ~PgCluster() {
        stop();
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // Empty when the cluster was made and started, else what initdb or pg_ctl said.
    const std::string& error() const { return initError_; }

    bool start() {
        const std::string options = std::string("-c listen_addresses='' -k ") + dir_ +
                                    " -c max_connections=200" + (durable_ ? "" : " -c fsync=off");
        const ProgramResult r = asOwner({std::string(kBin) + "pg_ctl", "-D", data(), "-o", options,
                                         "-l", dir_ + "/server.log", "-w", "start"});
        if (r.status != 0) initError_ = r.out + r.err;
        return r.status == 0;
    }
    // Fast: the open connections are cut, as in a restart by the operator.
    bool stop() {
        if (dir_.empty()) return false;
        return asOwner({std::string(kBin) + "pg_ctl", "-D", data(), "-m", "fast", "-w", "stop"})
                   .status == 0;
    }

    std::string conninfo(const std::string& db) const {
        return "host=" + dir_ + " user=" + kAdmin + " dbname=" + db;
    }
    bool createDatabase(const std::string& db) const {
        return asOwner({std::string(kBin) + "createdb", "-h", dir_, "-U", kAdmin, db}).status == 0;
    }

  private:
    std::string data() const { return dir_ + "/data"; }
    ProgramResult asOwner(std::vector<std::string> argv) const {
        if (geteuid() == 0)
            argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
        return runProgram(argv, {}, "/");
    }

    bool durable_;
    std::string dir_;
    std::string initError_ = "no temporary folder";
};
