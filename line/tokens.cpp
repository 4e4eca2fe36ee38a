#include "line/tokens.h"

#include "platform/hash.h"

namespace {

// 256 bits: not to be guessed however many requests are tried.
constexpr size_t kTokenBytes = 32;

std::string digestOf(const std::string& token) {
    Sha256 digest;
    digest.update(token.data(), token.size());
    return digest.finish();
}

}  // namespace

bool usableStationName(const std::string& name) {
    if (name.empty() || name.size() > kMaxStationName) return false;
    for (unsigned char c : name)
        if (c < ' ' || c == 0x7f) return false;
    return true;
}

std::string addStationToken(PgConnection& db, const std::string& station) {
    unsigned char bytes[kTokenBytes];
    if (randomBytes(bytes, sizeof bytes) != 0) return "";
    const std::string token = hexOf(bytes, sizeof bytes);
    const std::string digest = digestOf(token);
    if (digest.empty()) return "";
    db.exec("INSERT INTO station_tokens (token_sha256, station) VALUES ($1, $2)",
            {digest, station});
    return token;
}

std::optional<std::string> stationOfToken(PgConnection& db, const std::string& token) {
    if (token.empty() || token.size() > kMaxTokenSize) return std::nullopt;
    const std::string digest = digestOf(token);
    if (digest.empty()) return std::nullopt;
    const PgResult r =
        db.exec("SELECT station FROM station_tokens WHERE token_sha256 = $1", {digest});
    if (r.rows() == 0) return std::nullopt;
    return r.text(0, 0);
}
