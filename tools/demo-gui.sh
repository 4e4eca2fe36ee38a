#!/usr/bin/env bash
# Opens the desktop program against the simulated device: v3sim on a pseudo-terminal at the
# real line rate, COM1 mapped to it for this run (COMPORTS.INI), in a working directory that
# holds a copy of the sample V3 data file, where the data file chooser opens. Choose
# sample.v3, press 開始 (Start) and watch the write; 終了 (Exit) ends the demo.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BIN="${ZT_BUILD:-$ROOT/build}/bin"
DATA="${ZT_DEMO_DATA:-$ROOT/examples/sample.v3}"

work="$(mktemp -d "${TMPDIR:-/tmp}/zemtabulo-demo.XXXXXX")"
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cp "$DATA" "$work/"

"$BIN/v3sim" --idle 3600 --rate 3840 >"$work/v3sim.out" &
sim=$!
for _ in $(seq 100); do
    [ -s "$work/v3sim.out" ] && break
    sleep 0.05
done
port="$(head -n 1 "$work/v3sim.out")"
[ -n "$port" ] || { echo "v3sim did not start" >&2; exit 1; }
echo "COM1=$port" >"$work/COMPORTS.INI"
echo "v3sim is listening on $port (COM1 for this run); working directory $work"
echo "In the window: ﾃﾞｰﾀﾌｧｲﾙ指定 -> $(basename "$DATA"), then 開始. 終了 ends the demo."
cd "$work"
"$BIN/zemtabulo" "$@"
