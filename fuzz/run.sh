#!/usr/bin/env bash
# Runs each fuzz target for a bounded time and prints the executions and findings of each.
#   fuzz/run.sh [BUILD_DIR] [SECONDS] [TARGET...]
# BUILD_DIR defaults to build-fuzz (configured and built here when missing), SECONDS to 60.
# ZT_FUZZ_JOBS=2 runs two targets at a time. The seeds in fuzz/corpus/<target> are read, never
# written: what a run learns goes to BUILD_DIR/corpus/<target>, findings to
# BUILD_DIR/findings/<target>/. Exit status 1 when any target found something.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build-fuzz}")"
seconds="${2:-60}"
shift $(( $# > 2 ? 2 : $# ))
jobs="${ZT_FUZZ_JOBS:-1}"

mkdir -p "$build"
if ! { cmake -S "$root/fuzz" -B "$build" && cmake --build "$build" -j"$(nproc)"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  exit 1
fi
if [ $# -gt 0 ]; then targets=("$@"); else mapfile -t targets < "$build/targets.txt"; fi

run_one() {
  local t="$1" corpus="$build/corpus/$1" findings="$build/findings/$1/" log="$build/logs/$1.log"
  local extra=()
  # A reply line wraps at 200 bytes: longer inputs only cost executions.
  [ "$t" = read_line_fuzz ] && extra=(-max_len=1024)
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  # -rss_limit_mb: the targets hold a few buffers at most; anything near this is a leak.
  "$build/bin/$t" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
    -artifact_prefix="$findings" -timeout=10 "${extra[@]}" "$corpus" "$root/fuzz/corpus/$t" \
    >"$log" 2>&1 || true
}

for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_one "$t" &
done
wait

status=0
printf '%-20s %14s %10s %9s  %s\n' target executions exec/s corpus findings
for t in "${targets[@]}"; do
  log="$build/logs/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(find "$build/corpus/$t" -type f | wc -l)
  found=$(find "$build/findings/$t" -type f | wc -l)
  note="$found"
  if [ "$found" -gt 0 ] || [ -z "$execs" ]; then
    status=1
    note="$found (see $log)"
  fi
  printf '%-20s %14s %10s %9s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$units" "$note"
done
exit $status
