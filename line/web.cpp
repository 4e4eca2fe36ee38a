#include "line/web.h"

#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "line/dashboard.h"
#include "line/http_reply.h"
#include "line/pool.h"
#include "line/records.h"
#include "station/log.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kCsv = "text/csv; charset=utf-8";
// Chart.js changes only with its package: browsers may keep it for a day.
constexpr const char* kChartCache = "public, max-age=86400";

bool holdsPage(const fs::path& dir) {
    std::error_code ec;
    return !dir.empty() && fs::is_regular_file(dir / "index.html", ec);
}

fs::path programDir() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

QueryParams paramsOf(const httplib::Request& req) {
    return QueryParams(req.params.begin(), req.params.end());
}

// A JSON view: the request's parameters to a body, made on one of the pool's connections.
template <typename View>
void serveView(PgPool& pool, const httplib::Request& req, httplib::Response& res, View view) {
    for (const auto& [name, value] : req.params)
        if (value.find('\0') != std::string::npos)
            return replyError(res, kBadRequest, name + " holds a NUL");
    const QueryParams params = paramsOf(req);
    withDatabase(res, [&] {
        res.set_content(pool.run([&](PgConnection& db) { return view(db, params); }), kJson);
    });
}

void serveChartJs(const std::string& path, httplib::Response& res) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return replyError(res, 404, "Chart.js not found at " + path);
    std::ostringstream text;
    text << in.rdbuf();
    res.set_header("Cache-Control", kChartCache);
    res.set_content(text.str(), "text/javascript");
}

// The listing as CSV: the first page is read before answering, so that a query the database
// refuses is a 400 rather than a cut-off download; the rest streams a page at a time, so the
// server never holds the whole result.
void serveCsv(PgPool& pool, const httplib::Request& req, httplib::Response& res) {
    auto query = std::make_shared<RecordQuery>();
    if (std::string why = parseRecordQuery(paramsOf(req), *query); !why.empty())
        return replyError(res, kBadRequest, why);
    query->limit = kMaxPageRecords;
    auto first = std::make_shared<std::string>(std::string(kUtf8Bom) +
                                               logHeaderOf(kStoredLogColumns) + ",station\r\n");
    bool more = false;
    withDatabase(res, [&] {
        more = pool.run([&](PgConnection& db) {
            RecordQuery q = *query;
            const bool after = listRecordsCsv(db, q, *first);
            *query = q;
            return after;
        });
        res.set_header("Content-Disposition", "attachment; filename=\"records.csv\"");
        res.set_chunked_content_provider(
            kCsv, [&pool, query, first, more](size_t, httplib::DataSink& sink) mutable {
                std::string lines;
                lines.swap(*first);
                if (lines.empty() && more)
                    more = pool.run([&](PgConnection& db) {
                        RecordQuery q = *query;
                        const bool after = listRecordsCsv(db, q, lines);
                        *query = q;
                        return after;
                    });
                if (!lines.empty() && !sink.write(lines.data(), lines.size())) return false;
                if (!more) sink.done();
                return true;
            });
    });
}

}  // namespace

std::string findWebDir(const std::string& given) {
    if (!given.empty()) return holdsPage(given) ? given : "";
    const fs::path beside = programDir() / ".." / "share" / "zemtabulo" / "web";
    if (holdsPage(beside)) return fs::weakly_canonical(beside).string();
#ifdef ZT_LINE_WEB_DIR
    if (holdsPage(ZT_LINE_WEB_DIR)) return ZT_LINE_WEB_DIR;
#endif
    return "";
}

void routeDashboard(httplib::Server& server, PgPool& pool, const WebOptions& o) {
    const std::string dir = findWebDir(o.dir);
    if (dir.empty() || !server.set_mount_point("/", dir))
        std::fprintf(stderr, "zemtabulo-line: no dashboard page found%s%s: serving the API only\n",
                     o.dir.empty() ? "" : " in ", o.dir.c_str());
    const std::string chartJs = o.chartJs;
    server.Get("/chart.js", [chartJs](const httplib::Request&, httplib::Response& res) {
        serveChartJs(chartJs, res);
    });
    server.Get("/api/v1/stations", [&](const httplib::Request& req, httplib::Response& res) {
        serveView(pool, req, res,
                  [](PgConnection& db, const QueryParams&) { return stationsJson(db); });
    });
    server.Get("/api/v1/yield", [&](const httplib::Request& req, httplib::Response& res) {
        serveView(pool, req, res, yieldJson);
    });
    server.Get("/api/v1/files", [&](const httplib::Request& req, httplib::Response& res) {
        serveView(pool, req, res, filesJson);
    });
    server.Get("/api/v1/failures", [&](const httplib::Request& req, httplib::Response& res) {
        serveView(pool, req, res, failuresJson);
    });
    server.Get("/api/v1/records.csv", [&](const httplib::Request& req, httplib::Response& res) {
        serveCsv(pool, req, res);
    });
}
