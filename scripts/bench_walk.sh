#!/usr/bin/env bash
# Cost of the status window during a pass: wall time and peak resident memory (/usr/bin/time -v)
# of `jetdb walk` over Artikli of generated databases (2,000 and 20,000 articles, 40 % dead),
# beside `jetdb dump` of the same table (reading alone). The walk runs without a display and no
# terminal (nothing drawn), on a terminal (the line redrawn at most every 50 ms), with Qt off
# screen, and in a real window on a virtual X display where xvfb-run is installed: the window
# repaints and pumps its messages once per record.
#   scripts/bench_walk.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetdb -j2 >/dev/null
jetdb=$PWD/$build/tools/jetdb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work

printf "%-10s %-24s %8s %10s %12s %12s\n" "articles" "run" "records" "wall (s)" "records/s" "peak RSS KiB"
measure() {  # measure ROWS LABEL command...
  local rows=$1 label=$2
  shift 2
  /usr/bin/time -v -o "$work/time" "$@" >"$work/out" 2>/dev/null || true
  local wall rss records
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  # The dump prints no count: it reads the rows that the walk visits.
  records=$(grep -o '[0-9]* of [0-9]* records' "$work/out" | cut -d' ' -f1 || true)
  [ -n "$records" ] || records=$visited
  visited=$records
  printf "%-10s %-24s %8s %10s %12s %12s\n" "$rows" "$label" "$records" "$wall" \
    "$(awk -v n="$records" -v t="$wall" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }')" "$rss"
}
for rows in 2000 20000; do
  "$jetdb" gen "$work/gen.mdb" --rows "$rows" --seed 1 --bloat 40 >/dev/null
  visited=-
  measure "$rows" "walk, no terminal" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$jetdb" walk "$work/gen.mdb"
  measure "$rows" "dump Artikli" "$jetdb" dump "$work/gen.mdb" Artikli
  if command -v script >/dev/null; then
    measure "$rows" "walk, terminal line" script -qec \
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '$jetdb' walk '$work/gen.mdb' 2>/dev/null" /dev/null
  fi
  measure "$rows" "walk, Qt off screen" env QT_QPA_PLATFORM=offscreen "$jetdb" walk "$work/gen.mdb"
  if command -v xvfb-run >/dev/null; then
    measure "$rows" "walk, Qt on Xvfb" xvfb-run -a env -u QT_QPA_PLATFORM "$jetdb" walk "$work/gen.mdb"
  fi
  rm -f "$work/gen.mdb"
done
