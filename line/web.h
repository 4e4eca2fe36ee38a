// The dashboard: its page and scripts, Chart.js, and the read-only JSON and CSV behind them.
#pragma once

#include <string>

class PgPool;
namespace httplib {
class Server;
}

// Debian's libjs-chart.js: the build that defines the global `Chart`.
constexpr const char* kDebianChartJs = "/usr/share/javascript/chart.js/chart.min.js";

struct WebOptions {
    std::string dir;                       // the page's folder; empty: looked up (findWebDir)
    std::string chartJs = kDebianChartJs;  // served as /chart.js
};

// The folder of the page: `given` when set; else share/zemtabulo/web beside the program's
// folder (an installed or unpacked copy, and the build tree); else the configured install
// folder. Empty when none holds an index.html.
std::string findWebDir(const std::string& given);

// GET / (the page), /chart.js, /api/v1/stations, /api/v1/yield, /api/v1/files,
// /api/v1/failures and /api/v1/records.csv. None of them changes a record.
void routeDashboard(httplib::Server& server, PgPool& pool, const WebOptions& options);
