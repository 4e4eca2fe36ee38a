#!/usr/bin/env bash
# The line server with a live dashboard: a throwaway PostgreSQL cluster, zemtabulo-line init and
# serve, a token per station, and three "stations" writing the sample data into v3sim devices
# (two ports each) again and again with zemtabulo-cli --log, sending each record to the server. One station's second device
# reports a wrong sum, so the failures have something to show. Prints the dashboard's address;
# Ctrl-C stops everything and removes the temporary folder.
#   tools/demo-line.sh [ADDR:PORT]      (default 127.0.0.1:8750)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BIN="${ZT_BUILD:-$ROOT/build}/bin"
LISTEN="${1:-127.0.0.1:8750}"
STATIONS=(press-1 press-2 assembly-3)
# shellcheck source=tools/line-cluster.sh
source "$ROOT/tools/line-cluster.sh"

WORK="$(mktemp -d /tmp/zt-demo-line.XXXXXX)"
pids=()
cleanup() {
    trap - EXIT INT TERM
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    zt_pg_stop "$WORK"
    rm -rf "$WORK"
    echo "demo stopped, $WORK removed"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

zt_pg_start "$WORK"
"$BIN/zemtabulo-line" init --db "$ZT_PG_CONNINFO"
for s in "${STATIONS[@]}"; do
    "$BIN/zemtabulo-line" token add "$s" --db "$ZT_PG_CONNINFO" | tail -n 1 >"$WORK/$s.token"
done
"$BIN/zemtabulo-line" serve --db "$ZT_PG_CONNINFO" --listen "$LISTEN" >"$WORK/serve.out" \
    2>"$WORK/serve.err" &
pids+=($!)

# A simulated device at the real line rate; prints its pseudo-terminal.
start_device() {
    local out="$WORK/dev.$RANDOM$RANDOM"
    "$BIN/v3sim" --idle 0 --rate 3840 "$@" >"$out" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$out" ] && break
        sleep 0.05
    done
    head -n 1 "$out"
}

# One station: its devices written one job after another, each record sent to the server.
run_station() {
    local name="$1" first second
    first="$(start_device)"
    if [ "$name" = "${STATIONS[2]}" ]; then second="$(start_device --sum 0BAD)"; else second="$(start_device)"; fi
    cd "$WORK" && mkdir -p "$name" && cd "$name"
    while true; do
        # Each record goes to the server as soon as it is in the station's log.
        "$BIN/zemtabulo-cli" write --port "$first" --port "$second" --data "$ROOT/examples/sample.v3" \
            --expect-sum 71F5 --log "$name.csv" --line "http://$LISTEN" \
            --line-token-file "$WORK/$name.token" >/dev/null 2>&1 || true
        sleep 1
    done
}

for _ in $(seq 100); do
    grep -q '^listening on' "$WORK/serve.out" && break
    sleep 0.05
done
url="$(sed -n 's/^listening on //p' "$WORK/serve.out")"
[ -n "$url" ] || { cat "$WORK/serve.err"; exit 1; }
for s in "${STATIONS[@]}"; do
    run_station "$s" &
    pids+=($!)
done
echo "dashboard: $url/   (stations: ${STATIONS[*]}; Ctrl-C stops)"
wait
