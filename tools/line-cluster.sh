# A throwaway PostgreSQL 15 cluster for the line server's scripts, made as the line tests make
# theirs (tests/pg_cluster.h): in a temporary folder, reached only through a Unix socket there,
# the cluster's programs run as postgres when root runs the script. Sourced, not run.
#   zt_pg_start DIR   initdb and start; sets ZT_PG_CONNINFO (database zemtabulo)
#   zt_pg_stop DIR    stop (fast)
ZT_PG_BIN=/usr/lib/postgresql/15/bin
ZT_PG_ADMIN=ztadmin

zt_pg_as_owner() {
    if [ "$(id -u)" -eq 0 ]; then /usr/sbin/runuser -u postgres -- "$@"; else "$@"; fi
}

zt_pg_start() {
    local dir="$1"
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    zt_pg_as_owner "$ZT_PG_BIN/initdb" -D "$dir/data" -U "$ZT_PG_ADMIN" -A trust -E UTF8 \
        --locale=C --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log"; return 1; }
    zt_pg_as_owner "$ZT_PG_BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
        -o "-c listen_addresses='' -k $dir -c fsync=off" start >/dev/null ||
        { cat "$dir/server.log"; return 1; }
    zt_pg_as_owner "$ZT_PG_BIN/createdb" -h "$dir" -U "$ZT_PG_ADMIN" zemtabulo || return 1
    ZT_PG_CONNINFO="host=$dir user=$ZT_PG_ADMIN dbname=zemtabulo"
}

zt_pg_stop() {
    [ -d "$1/data" ] && zt_pg_as_owner "$ZT_PG_BIN/pg_ctl" -D "$1/data" -m fast -w stop >/dev/null 2>&1
    return 0
}
