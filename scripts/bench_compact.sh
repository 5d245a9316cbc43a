#!/usr/bin/env bash
# Speed and memory of `jetdb compact` (the engine jetcompact uses, self-check and integrity check included).
# Compacts every sample database and then generated ones of growing size (`jetdb gen`, with deleted rows, dropped
# tables and free pages), printing the size before and after, wall time and peak resident memory (/usr/bin/time -v).
#   scripts/bench_compact.sh [ROWS...]     (default: 50000 200000 380000 rows; 380000 makes a file of about 2 GB)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
if [ ${#sizes[@]} -eq 0 ]; then sizes=(50000 200000 380000); fi
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

build=build/compactor/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJETCOMPACT_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetdb -j2 >/dev/null
jetdb=$build/tools/jetdb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # SOURCE -> one line of figures
  local source=$1 name=$2
  rm -f "$work/out.mdb"
  /usr/bin/time -v -o "$work/time" "$jetdb" compact "$source" "$work/out.mdb" ";LANGID=0x0424;CP=1250;COUNTRY=0" \
    >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  printf "%-28s %14d %14d %9s %12s\n" "$name" "$(stat -c %s "$source")" "$(stat -c %s "$work/out.mdb")" "$wall" "$rss"
}

printf "%-28s %14s %14s %9s %12s\n" "database" "bytes before" "bytes after" "wall (s)" "peak RSS KiB"
for sample in ../shared/jet-samples/jet3/*.mdb ../shared/jet-samples/jet4/*.mdb; do
  [ -f "$sample" ] && run "$sample" "$(basename "$sample")"
done
for rows in "${sizes[@]}"; do
  rm -f "$work/gen.mdb"
  "$jetdb" gen "$work/gen.mdb" --rows "$rows" --seed 1 --bloat 30 >/dev/null
  run "$work/gen.mdb" "generated, $rows rows"
  rm -f "$work/gen.mdb"
done
