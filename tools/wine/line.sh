# zemtabulo-cli.exe sending its records to the Linux line server on the loopback through WinHTTP:
# a write with the server up, a write while it is down, then `send` once it is back: each record
# stored once, under the token's station, with the log's id.
wine_area_line() {
    echo "== zemtabulo-cli.exe write --line: a Windows station and the Linux line server"
    # shellcheck source=tools/line-cluster.sh
    source "$ROOT/tools/line-cluster.sh"
    LINE_PG="$WORK/pg"
    mkdir -p "$LINE_PG"
    # The cluster's programs run as postgres when root runs this: the folder must be reachable.
    chmod 711 "$WORK"
    check "a throwaway PostgreSQL cluster and zemtabulo-line serve" line_server_up || return 0
    check "write on COM19 with the server up: sent at once" line_write line-up COM19
    check "its record stored once, under the token's station, with the log's id" line_stored 1
    kill "$LINE_SERVER" && wait "$LINE_SERVER" 2>/dev/null
    check "write on COM20 with the server down: the record waits" line_write_waits line-down COM20
    check "the server back: send stores what waited, each record once" line_send_after_restart
    zt_pg_stop "$LINE_PG"
}

line_psql() {
    local psql=("$ZT_PG_BIN/psql" "$ZT_PG_CONNINFO" -qAt -v ON_ERROR_STOP=1)
    [ "$(id -u)" -eq 0 ] && psql=(/usr/sbin/runuser -u postgres -- "${psql[@]}")
    "${psql[@]}" "$@"
}

line_server_up() {
    zt_pg_start "$LINE_PG" || return 1
    # The cluster is stopped by the end of the run, should an area fail before its own stop.
    head -n 1 "$LINE_PG/data/postmaster.pid" >"$WORK/postgres.pid"
    "$LNX/bin/zemtabulo-line" init --db "$ZT_PG_CONNINFO" >/dev/null || return 1
    "$LNX/bin/zemtabulo-line" token add win-station --db "$ZT_PG_CONNINFO" | tail -n 1 \
        >"$WORK/line-token.txt" || return 1
    line_serve
}

line_serve() {
    : >"$WORK/serve.out"
    "$LNX/bin/zemtabulo-line" serve --db "$ZT_PG_CONNINFO" --listen 127.0.0.1:0 \
        >"$WORK/serve.out" 2>"$WORK/serve.log" &
    LINE_SERVER=$!
    pids+=("$LINE_SERVER")
    for _ in $(seq 100); do
        LINE_URL="$(sed -n 's/^listening on //p' "$WORK/serve.out")"
        [ -n "$LINE_URL" ] && return 0
        sleep 0.05
    done
    return 1
}

# The port given may have been taken by another program since: the server listens where it is
# told, at the address it printed.
line_write() {
    local name="$1" port="$2"
    wine_write "$name" "$port" --log "$(winpath "$WORK/line.csv")" --line "$LINE_URL" \
        --line-token-file "$(winpath "$WORK/line-token.txt")" &&
        ! grep -q "wait for the line server" "$WORK/$name.log"
}

line_write_waits() {
    wine_write "$1" "$2" --log "$(winpath "$WORK/line.csv")" --line "$LINE_URL" \
        --line-token-file "$(winpath "$WORK/line-token.txt")" &&
        grep -q "1 record wait for the line server" "$WORK/$1.log"
}

# The records in the database are those of the log: the same ids, in the log's order, once each.
line_stored() {
    local want="$1" logged stored
    logged="$(python3 -c 'import csv, sys
for r in csv.DictReader(open(sys.argv[1], encoding="utf-8-sig", newline="")): print(r["id"])' \
        "$WORK/line.csv")"
    stored="$(line_psql -c "SELECT id FROM records WHERE station = 'win-station' AND port LIKE 'COM%'
                            ORDER BY time_utc, ctid")"
    echo "     log: $(echo "$logged" | tr '\n' ' ')"
    echo "     database: $(echo "$stored" | tr '\n' ' ')"
    [ "$(grep -c . <<<"$stored")" -eq "$want" ] && [ "$logged" = "$stored" ]
}

line_send_after_restart() {
    line_serve || return 1
    local status=0
    timeout 60 wine "$WIN/bin/zemtabulo-cli.exe" send --log "$(winpath "$WORK/line.csv")" \
        --line "$LINE_URL" --line-token-file "$(winpath "$WORK/line-token.txt")" \
        >"$WORK/line-send.log" 2>&1 || status=$?
    echo "exit status $status" >>"$WORK/line-send.log"
    [ "$status" -eq 0 ] && line_stored 2
}
