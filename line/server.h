// zemtabulo-line serve: the stations' records in over HTTP(S), listings and health out as JSON.
#pragma once

#include <string>

#include "line/web.h"

struct ServeOptions {
    std::string db;                         // libpq connection string
    std::string listen = "127.0.0.1:8750";  // ADDR:PORT; port 0 takes a free one
    std::string cert, key;                  // both for TLS, else plain HTTP
    size_t threads = 16;                    // request threads
    size_t connections = 8;                 // database connections at most
    WebOptions web;                         // the dashboard's files
};

// Serves until SIGINT or SIGTERM. Prints "listening on URL" on stdout once it accepts
// connections. Returns the exit status; a listener that cannot be set up is reported on stderr.
int serveLine(const ServeOptions& options);
