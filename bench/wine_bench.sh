#!/usr/bin/env bash
# The reply wait of the Windows build under Wine, on the real clock:
#  1. wait_bench.exe on two COM ports joined by socat: a silent wait's processor time, and the
#     delay from a reply's CR to the wait's return;
#  2. zemtabulo-cli.exe write of a data file of short lines (200 KB) into v3sim reading at the
#     real line rate (3840 B/s) after an erase of 12 s: the data phase against the line time,
#     and the processor time of the program over the job, beside the Linux build's for the same
#     job.
# Needs the Windows build (ZT_WIN_BUILD, default build-win64), the Linux build with v3sim and
# zemtabulo-cli (ZT_BUILD, default build), and the packages tools/wine/lib.sh names.
# Usage: bench/wine_bench.sh [seconds-of-silent-wait (default 30)] [delay samples (default 50)]
#        [KB of the job's data (default 200)]
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WIN="${ZT_WIN_BUILD:-$ROOT/build-win64}"
LNX="${ZT_BUILD:-$ROOT/build}"
SILENT="${1:-30}" SAMPLES="${2:-50}" KB="${3:-200}"
RATE=3840 ERASE_MS=12000
WORK="$(mktemp -d /tmp/zt-wine-bench.XXXXXX)"

# shellcheck source=tools/wine-work.sh
source "$ROOT/tools/wine-work.sh"
unset ZEMTABULO_TIME_SCALE ZEMTABULO_TICK_OFFSET

# A device that reads at the line rate and erases slowly, for one job; prints its terminal.
start_sim() {
    "$LNX/bin/v3sim" --jobs 1 --idle 600 --rate "$RATE" --erase-ms "$ERASE_MS" >"$WORK/$1.out" &
    echo $! >"$WORK/$1.pid"
    for _ in $(seq 200); do [ -s "$WORK/$1.out" ] && break; sleep 0.05; done
    head -n 1 "$WORK/$1.out"
}

# Runs a write job, printing the data phase (from its status lines) and its processor time.
job() {
    local label="$1" start="" end="" line times
    shift
    TIMEFORMAT='%U %S %R'
    : >"$WORK/$label.phase"
    times="$( { time "$@" --data "$DATA_ARG" 2>&1 | while IFS= read -r line; do
        case "${line%$'\r'}" in
            'ﾃﾞｰﾀ書き込み中') echo "start $EPOCHREALTIME" >>"$WORK/$label.phase" ;;
            'ﾃﾞｰﾀ書込み終了') echo "end $EPOCHREALTIME" >>"$WORK/$label.phase" ;;
        esac
    done; } 2>&1 )"
    start="$(awk '$1 == "start" { print $2 }' "$WORK/$label.phase")"
    end="$(awk '$1 == "end" { print $2 }' "$WORK/$label.phase")"
    [ -n "$start" ] && [ -n "$end" ] || { echo "$label: the job ended before its data phase did"; return; }
    awk -v l="$label" -v b="$((KB * 1000))" -v r="$RATE" -v s="$start" -v e="$end" -v t="$times" \
        'BEGIN { split(t, x, " "); printf "%s: data phase %.2f s for a line time of %.2f s: " \
            "%.3f of the line rate; job %.1f s wall, %.3f s cpu = %.2f %% of one core\n", l, e - s,
            b / r, b / r / (e - s), x[3], x[1] + x[2], 100 * (x[1] + x[2]) / x[3] }'
}

awk -v n="$((KB * 1000))" 'BEGIN { line = "TEXT 12 34 1 \"Station ready, line 7\"\n";
    for (w = 0; w + length(line) <= n; w += length(line)) printf "%s", line;
    while (w++ < n) printf "x" }' >"$WORK/data.v3"

socat PTY,raw,echo=0,link="$WORK/ptyA" PTY,raw,echo=0,link="$WORK/ptyB" &
pids+=($!)
for _ in $(seq 100); do [ -e "$WORK/ptyB" ] && break; sleep 0.05; done
device="$(start_sim win)"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null
for port in "COM5=$(readlink -f "$WORK/ptyA")" "COM6=$(readlink -f "$WORK/ptyB")" "COM4=$device"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /t REG_SZ /d "${port#*=}" /f >/dev/null
done
# The port mapping is read when Wine starts afresh.
wineserver -w
wineserver -p >/dev/null 2>&1 &

echo "== wait_bench.exe (Wine)"
wine "$WIN/bin/wait_bench.exe" COM5 COM6 "$SILENT" "$SAMPLES" | tr -d '\r'
echo "== a job with a $((ERASE_MS / 1000)) s erase, $KB KB at $RATE B/s"
DATA_ARG="Z:${WORK//\//\\}\\data.v3"
job "zemtabulo-cli.exe (Wine)" wine "$WIN/bin/zemtabulo-cli.exe" write --port COM4
DATA_ARG="$WORK/data.v3"
job "zemtabulo-cli (Linux)" "$LNX/bin/zemtabulo-cli" write --port "$(start_sim linux)"
