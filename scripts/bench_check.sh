#!/usr/bin/env bash
# Speed and memory of `jetdb check`: wall time and peak resident memory (/usr/bin/time -v) on the largest samples,
# on databases made by `jetdb gen` (10 MB and 100 MB, 40 % dead; 1 GB with --1gb), and on testV2003.mdb with Table1
# grown by inflate_table.py to 2,000 and 10,000 data pages (132,000 and 660,000 rows). The inflated tables' indexes
# do not know the new rows, so those runs show that a check of a badly damaged table stays quick and small: it lists
# the first problems and counts the rest. Then the index walker's own benchmark (Google Benchmark) walks trees of up
# to a million entries.
#   scripts/bench_check.sh [--1gb]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
samples=${JET_SAMPLES:-../shared/jet-samples}
build=build/checker-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetdb -j2 >/dev/null
cmake --build "$build" --target jet_index_walk_bench -j2 >/dev/null 2>&1 || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf "%-28s %10s %10s %12s  %s\n" "file" "MiB" "wall (s)" "peak RSS KiB" "result"
run() {
  local label=$1 file=$2
  /usr/bin/time -v -o "$work/time" "$build/tools/jetdb" check "$file" >"$work/out" 2>/dev/null || true
  local wall rss mib
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  mib=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
  printf "%-28s %10s %10s %12s  %s\n" "$label" "$mib" "$wall" "$rss" "$(tail -1 "$work/out" | sed 's/^[^:]*: //' | cut -c1-60)"
}
for f in jet4/testV2000.mdb jet4/testV2003.mdb jet3/testIndexCodesV1997.mdb; do run "$(basename "$f")" "$samples/$f"; done
sizes=(2000 20000)
[ "${1:-}" = "--1gb" ] && sizes+=(205000)
for rows in "${sizes[@]}"; do
  "$build/tools/jetdb" gen "$work/gen.mdb" --rows "$rows" --seed 1 --bloat 40 >/dev/null
  run "gen --rows $rows" "$work/gen.mdb"
  rm -f "$work/gen.mdb"
done
for copies in 2000 10000; do
  python3 scripts/inflate_table.py "$samples/jet4/testV2003.mdb" 24 "$copies" "$work/inflated.mdb" >/dev/null
  run "testV2003 + $copies pages" "$work/inflated.mdb"
done
if [ -x "$build/jet/jet_index_walk_bench" ]; then "$build/jet/jet_index_walk_bench"; fi
