#!/usr/bin/env bash
# The line dashboard in a browser: a throwaway PostgreSQL cluster with made-up records
# (tools/line-sample.sql), zemtabulo-line serving them from the build, and headless Chromium
# (tools/line-browser.py) loading the page, comparing what it shows with psql's counts, timing the
# load and keeping a screenshot in docs/line.png. Installs chromium and libjs-chart.js when
# missing. Run by .ci/run beside the package tests.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=tools/setup.sh
source "$ROOT/tools/setup.sh"
# shellcheck source=tools/line-cluster.sh
source "$ROOT/tools/line-cluster.sh"
# ZT_LINE_RECORDS=1000000 measures the page over a plant's months of records (not in CI: minutes).
RECORDS=${ZT_LINE_RECORDS:-20000}
EVERY_SECONDS=4

zt_apt_missing --no-install-recommends -- chromium libjs-chart.js postgresql-15
cmake --build "$ZT_BUILD" -j2 --target zemtabulo-line >/dev/null

WORK="$(mktemp -d /tmp/zt-line-browser.XXXXXX)"
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    zt_pg_stop "$WORK"
    rm -rf "$WORK"
}
trap cleanup EXIT

zt_pg_start "$WORK"
LINE="$ZT_BUILD/bin/zemtabulo-line"
PSQL=("$ZT_PG_BIN/psql" "$ZT_PG_CONNINFO" -q -v ON_ERROR_STOP=1)
[ "$(id -u)" -eq 0 ] && PSQL=(/usr/sbin/runuser -u postgres -- "${PSQL[@]}")
"$LINE" init --db "$ZT_PG_CONNINFO" >/dev/null
"${PSQL[@]}" -v n=$RECORDS -v every=$EVERY_SECONDS -f "$ROOT/tools/line-sample.sql"
"${PSQL[@]}" -c "VACUUM ANALYZE records"

"$LINE" serve --db "$ZT_PG_CONNINFO" --listen 127.0.0.1:0 >"$WORK/serve.out" 2>"$WORK/serve.err" &
server=$!
for _ in $(seq 100); do
    grep -q '^listening on' "$WORK/serve.out" && break
    sleep 0.05
done
url="$(sed -n 's/^listening on //p' "$WORK/serve.out")"
[ -n "$url" ] || { cat "$WORK/serve.err"; exit 1; }

# The page's day in UTC, as the browser runs in UTC: the day psql counts over.
python3 "$ROOT/tools/line-browser.py" "$url/?day=$(date -u +%F)" "$ROOT/docs/line.png" \
    "${PSQL[@]}"
