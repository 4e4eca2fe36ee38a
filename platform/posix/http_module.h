// What the programs and the HTTP module (zemtabulo-http.so) agree on. Both are built together
// from one tree, so the C++ types cross the boundary as they are; only the name is C's, to be
// found with dlsym.
#pragma once

#include "platform/http.h"

// Where the module lies, relative to the folder of the running program: the same in the build
// tree (bin/ and lib/zemtabulo/modules/) and once installed (/usr/bin and
// /usr/lib/zemtabulo/modules/: a folder below lib/zemtabulo, so that CPack adds no ldconfig calls
// for a library that no other program links).
inline constexpr const char* kHttpModulePath = "../lib/zemtabulo/modules/zemtabulo-http.so";
inline constexpr const char* kHttpModuleEntry = "zt_http_post_json";

using HttpModuleEntry = void (*)(const HttpUrl& url, const std::string& token,
                                 const std::string& body, std::chrono::milliseconds timeout,
                                 HttpReply& reply);
