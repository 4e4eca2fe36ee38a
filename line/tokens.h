// Station tokens: a random secret per station, of which the database keeps only the digest.
#pragma once

#include <optional>
#include <string>

#include "line/pg.h"

// Longest station name and token the server takes.
constexpr size_t kMaxStationName = 128;
constexpr size_t kMaxTokenSize = 256;

// 1 to kMaxStationName bytes, none a control character.
bool usableStationName(const std::string& name);

// Makes a token for the station and stores its digest. Returns the token, which nothing can
// show again; empty when the system gave no random bytes. Throws PgError or PgUnavailable.
std::string addStationToken(PgConnection& db, const std::string& station);

// The station a token was made for; none for a token not known.
std::optional<std::string> stationOfToken(PgConnection& db, const std::string& token);
