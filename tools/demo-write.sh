#!/usr/bin/env bash
# Writes the sample V3 data file into the simulated device: v3sim on a pseudo-terminal at
# the real line rate, zemtabulo-cli write against it. Extra arguments go to zemtabulo-cli.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BIN="${ZT_BUILD:-$ROOT/build}/bin"
DATA="${ZT_DEMO_DATA:-$ROOT/examples/sample.v3}"

out="$(mktemp)"
"$BIN/v3sim" --jobs 1 --idle 600 --rate 3840 --sum 5A3C >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
done
port="$(head -n 1 "$out")"
echo "v3sim is listening on $port"
"$BIN/zemtabulo-cli" write --port "$port" --data "$DATA" "$@"
