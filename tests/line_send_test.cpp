// Stations sending their records to zemtabulo-line: zemtabulo-cli against the server as a
// process, PostgreSQL started for this program, v3sim devices. The server down, a station
// killed between the server's store and its own note of it, a dead server at the run's end.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <memory>
#include <set>

#include "csv_reader.h"
#include "line/pg.h"
#include "line_server.h"
#include "pg_cluster_environment.h"
#include "sim_harness.h"
#include "temp_dir.h"

namespace {

const std::string kScale = "ZEMTABULO_TIME_SCALE=2";
const std::string kData = "BMP 1\nB 00\nPAGE 1\nTEXT hello\n";

std::string url(int port) {
    return "http://127.0.0.1:" + std::to_string(port);
}

class LineSend : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(gCluster, nullptr);
        db_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : db_) c = char(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(gCluster->createDatabase(db_));
        ASSERT_EQ(runProgram({ZT_LINE_PATH, "init", "--db", conninfo()}).status, 0);
        const ProgramResult t =
            runProgram({ZT_LINE_PATH, "token", "add", "station-7", "--db", conninfo()});
        ASSERT_EQ(t.status, 0) << t.err;
        std::string out = t.out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        // Blanks and a CR LF after the token, as an editor may leave them.
        tokenFile_ = dir_.write("token.txt", out.substr(out.rfind('\n') + 1) + "  \r\n");
        data_ = dir_.write("d.v3", kData);
        log_ = dir_.file("log.csv");
    }

    void startServer() {
        server_ = std::make_unique<LineServer>(ZT_LINE_PATH, conninfo());
        ASSERT_GT(server_->port(), 0) << server_->errors();
    }
    std::string conninfo() const { return gCluster->conninfo(db_); }
    std::vector<std::string> storedIds() {
        PgConnection c(conninfo());
        // A fresh table keeps its rows in the order they were inserted.
        const PgResult r = c.exec("SELECT id::text, attempt FROM records ORDER BY ctid");
        std::vector<std::string> ids;
        for (int i = 0; i < r.rows(); ++i) {
            EXPECT_EQ(r.text(i, 1), "1");
            ids.push_back(r.text(i, 0));
        }
        return ids;
    }
    std::vector<std::string> loggedIds() {
        LogTable log;
        EXPECT_TRUE(log.parse(dir_.read("log.csv")));
        std::vector<std::string> ids;
        for (size_t i = 0; i < log.records.size(); ++i) ids.push_back(log.at(i, "id"));
        return ids;
    }
    // A write of `devices` v3sim devices with the log sent to `lineUrl`.
    ProgramResult write(size_t devices, const std::string& lineUrl,
                        std::vector<std::string> env = {}) {
        std::deque<SimProcess> sims(devices);
        std::vector<std::string> args{
            ZT_CLI_PATH, "write", "--data", data_, "--log", log_, "--line-token-file", tokenFile_};
        if (!lineUrl.empty()) args.insert(args.end(), {"--line", lineUrl});
        for (SimProcess& s : sims) {
            EXPECT_TRUE(s.start({"--jobs", "1"}, {kScale}));
            args.insert(args.end(), {"--port", s.slavePath});
        }
        env.push_back(kScale);
        return runProgram(args, env, dir_.path.string());
    }
    ProgramResult send(const std::string& lineUrl) {
        return runProgram({ZT_CLI_PATH, "send", "--log", log_, "--line", lineUrl,
                           "--line-token-file", tokenFile_});
    }

    TempDir dir_;
    std::string db_, tokenFile_, data_, log_;
    std::unique_ptr<LineServer> server_;
};

}  // namespace

TEST_F(LineSend, ServerDownForAWholeRunThenTheNextStartSendsEveryRecordOnceInLogOrder) {
    const ProgramResult down = write(8, url(deadLoopbackPort()));
    EXPECT_EQ(down.status, 0) << down.out << down.err;
    EXPECT_NE(down.err.find("8 records wait for the line server"), std::string::npos) << down.err;
    EXPECT_FALSE(std::filesystem::exists(log_ + ".sent"));

    startServer();
    const ProgramResult next = write(1, url(server_->port()));
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_EQ(next.err.find("wait for the line server"), std::string::npos) << next.err;
    const std::vector<std::string> logged = loggedIds();
    ASSERT_EQ(logged.size(), 9u);
    EXPECT_EQ(storedIds(), logged);

    // Everything is acknowledged: sending again sends nothing, and a log appended to by a
    // station without --line is caught up by the command.
    EXPECT_EQ(send(url(server_->port())).status, 0);
    EXPECT_EQ(write(1, "").status, 0);
    const ProgramResult caughtUp = send(url(server_->port()));
    EXPECT_EQ(caughtUp.status, 0) << caughtUp.err;
    EXPECT_EQ(storedIds(), loggedIds());
}

TEST_F(LineSend, KilledAfterTheServerStoredABatchIsResentAtTheNextStartAndStoredOnce) {
    startServer();
    const ProgramResult killed =
        write(2, url(server_->port()), {"ZEMTABULO_TEST_KILL_AFTER_SEND=1"});
    EXPECT_EQ(killed.status, -1) << "killed by SIGKILL after the server's answer\n" << killed.err;
    const std::vector<std::string> stored = storedIds();
    ASSERT_FALSE(stored.empty());
    EXPECT_FALSE(std::filesystem::exists(log_ + ".sent")) << "the acknowledgement was not kept";

    const ProgramResult next = send(url(server_->port()));
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(storedIds(), loggedIds()) << "each record once, in the log's order";
    EXPECT_NE(dir_.read("log.csv.sent")
                  .find("offset=" + std::to_string(std::filesystem::file_size(log_))),
              std::string::npos);
}

TEST_F(LineSend, DeadServerDelaysTheEndByTheBoundedWaitOnly) {
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    ASSERT_EQ(write(1, "").status, 0);
    const auto plain = Clock::now() - t0;
    t0 = Clock::now();
    const ProgramResult r = write(1, url(deadLoopbackPort()));
    const auto dead = Clock::now() - t0;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("2 records wait for the line server"), std::string::npos) << r.err;
    EXPECT_LT(dead - plain, std::chrono::milliseconds(3000));
}

TEST_F(LineSend, TokenFileMissingOrEmptyIsRefusedWithoutStarting) {
    const std::string empty = dir_.write("empty.txt", " \r\n");
    for (const std::string& file : {dir_.file("missing.txt"), empty}) {
        const ProgramResult r =
            runProgram({ZT_CLI_PATH, "write", "--data", data_, "--log", log_, "--port", "/dev/null",
                        "--line", url(1), "--line-token-file", file});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("token"), std::string::npos) << r.err;
        EXPECT_EQ(dir_.read("log.csv"), "") << "no device written";
    }
    // A server that refuses: the reason is told, the token never.
    startServer();
    write(1, "");
    dir_.write("wrong.txt", "not-a-token-of-this-line\n");
    const ProgramResult refused =
        runProgram({ZT_CLI_PATH, "send", "--log", log_, "--line", url(server_->port()),
                    "--line-token-file", dir_.file("wrong.txt")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("1 records wait for the line server: HTTP 401"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find("not-a-token"), std::string::npos) << "the token is never printed";
}

TEST_F(LineSend, RecordTheServerRefusesIsListedAndPassedOverTheOthersAllArrive) {
    ASSERT_EQ(write(8, "").status, 0);
    // A NUL in one record's port: the server refuses the batch that holds it.
    std::string text = dir_.read("log.csv");
    const std::vector<std::string> logged = loggedIds();
    LogTable table;
    ASSERT_TRUE(table.parse(text));
    const size_t bad = 5;
    const size_t at = text.find(table.at(bad, "id"));
    const std::string port = table.at(bad, "port");
    const size_t portAt = text.rfind(port, at);
    ASSERT_NE(portAt, std::string::npos);
    text.insert(portAt + port.size(), 1, '\0');
    dir_.write("log.csv", text);

    startServer();
    const ProgramResult r = send(url(server_->port()));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("1 record refused by the line server, listed in " + log_ + ".refused"),
              std::string::npos)
        << r.err;
    std::vector<std::string> others = logged;
    others.erase(others.begin() + long(bad));
    EXPECT_EQ(storedIds(), others) << "the others once each, in the log's order";
    const std::string refused = dir_.read("log.csv.refused");
    EXPECT_EQ(refused.rfind(logged[bad] + "\t", 0), 0u) << refused;
    EXPECT_NE(refused.find("without NUL"), std::string::npos) << refused;

    // Passed over for good: the next send has nothing to send.
    EXPECT_EQ(send(url(server_->port())).status, 0);
    EXPECT_EQ(dir_.read("log.csv.refused"), refused);
    EXPECT_EQ(storedIds(), others);
}
