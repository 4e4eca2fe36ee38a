# Shared by the Wine scripts (tools/wine/lib.sh, bench/wine_bench.sh): a Wine prefix of their
# own in the work folder $WORK, and at the end every program they started stopped and the
# folder removed. Programs started in the background go into `pids`; devices started in a
# command substitution, whose $! the script never sees, leave their pid in $WORK/NAME.pid.
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all LC_ALL=C.UTF-8
# No .NET or HTML engine installers in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

pids=()
cleanup() {
    # The server first, while it is there to end the Wine programs (its own services too): once
    # it is killed, they are left running with no server.
    wineserver -k 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for f in "$WORK"/*.pid; do [ -e "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT
