#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "line/import.h"
#include "line/schema.h"
#include "line/server.h"
#include "line/tokens.h"
#include "zt_version.h"

namespace {

constexpr int kExitFailed = 1, kExitUsage = 2;

int fail(const std::string& why) {
    std::fprintf(stderr, "zemtabulo-line: %s\n", why.c_str());
    return kExitFailed;
}

int runInit(const std::string& db) {
    PgConnection c(db);
    const int applied = migrateSchema(c);
    std::printf("schema at version %d (%s)\n", schemaVersion(c),
                applied ? ("migrations applied: " + std::to_string(applied)).c_str()
                        : "already the newest");
    return 0;
}

int runTokenAdd(const std::string& db, const std::string& station) {
    if (!usableStationName(station))
        return fail("a station name is 1 to " + std::to_string(kMaxStationName) +
                    " bytes without control characters");
    PgConnection c(db);
    const std::string token = addStationToken(c, station);
    if (token.empty()) return fail("the system gave no random bytes");
    std::printf("token for station %s (shown only now; the server keeps its digest):\n%s\n",
                station.c_str(), token.c_str());
    return 0;
}

int runImport(const std::string& db, const std::vector<std::string>& logs,
              const std::string& station) {
    if (!usableStationName(station)) return fail("--station: not a usable station name");
    PgConnection c(db);
    int status = 0;
    for (const std::string& path : logs) {
        ImportCount n;
        if (std::string why = importLog(c, path, station, n); !why.empty()) {
            status = fail(why + " (nothing stored from it)");
            continue;
        }
        std::printf("%s: %zu records, %zu new, %zu already stored", path.c_str(), n.records,
                    n.added, n.records - n.added);
        if (n.skipped) std::printf(", %zu torn lines skipped", n.skipped);
        std::printf("\n");
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string version = std::string("zemtabulo-line ") + kZtVersionText;
    CLI::App app{version + ": the stations' device records in PostgreSQL, served as JSON"};
    app.set_version_flag("--version", version, "Print the program's name and version, and exit");
    app.require_subcommand(1);
    std::string db;
    const auto addDb = [&db](CLI::App* cmd) {
        cmd->add_option("--db", db,
                        "libpq connection string (keyword/value or URI); service= and PG* "
                        "variables count")
            ->required();
    };

    CLI::App* init = app.add_subcommand("init", "Create or bring the schema up to date");
    addDb(init);

    CLI::App* token = app.add_subcommand("token", "Station tokens");
    token->require_subcommand(1);
    CLI::App* tokenAdd = token->add_subcommand("add", "Make a token for a station and print it");
    std::string station;
    tokenAdd->add_option("STATION", station, "The station's name")->required();
    addDb(tokenAdd);

    CLI::App* serve = app.add_subcommand("serve", "Take records over HTTP(S), serve them as JSON");
    ServeOptions o;
    addDb(serve);
    serve->add_option("--listen", o.listen, "ADDR:PORT (port 0: any free one)")
        ->capture_default_str();
    serve->add_option("--cert", o.cert, "TLS certificate (PEM), with --key")
        ->check(CLI::ExistingFile);
    serve->add_option("--key", o.key, "TLS private key (PEM), with --cert")
        ->check(CLI::ExistingFile);
    serve->add_option("--threads", o.threads, "Request threads")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    serve->add_option("--connections", o.connections, "Database connections at most")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    serve->add_option("--web", o.web.dir,
                      "The dashboard's folder (default: share/zemtabulo/web beside the "
                      "program's folder, else the installed one)");
    serve->add_option("--chart-js", o.web.chartJs, "Chart.js (UMD build), served as /chart.js")
        ->capture_default_str();

    CLI::App* import = app.add_subcommand("import", "Store CSV device logs as a station's");
    std::vector<std::string> logs;
    import->add_option("LOG", logs, "CSV device logs")->required()->check(CLI::ExistingFile);
    import->add_option("--station", station, "The station that wrote them")->required();
    addDb(import);

    CLI11_PARSE(app, argc, argv);
    if (serve->parsed() && o.cert.empty() != o.key.empty()) {
        std::fprintf(stderr, "zemtabulo-line: --cert and --key go together\n");
        return kExitUsage;
    }
    try {
        if (init->parsed()) return runInit(db);
        if (tokenAdd->parsed()) return runTokenAdd(db, station);
        if (import->parsed()) return runImport(db, logs, station);
        o.db = db;
        return serveLine(o);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
