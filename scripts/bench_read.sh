#!/usr/bin/env bash
# Reading speed and memory of `jetdb dump` against mdb-export (mdbtools): every table of each database is printed
# as CSV by both, once per table and process, the whole set repeated ROUNDS times. /usr/bin/time -v measures wall
# time and peak resident memory. Also times one `jetdb dump FILE` process printing every user table.
# The samples are small, so process start-up dominates there; to measure reading itself, inflate_table.py then
# grows Table1 of testV2003.mdb to 5,000 and 20,000 data pages (330,000 and 1.3 million rows, 23 and 82 MB) in a
# temporary folder and both readers print that table once.
#   scripts/bench_read.sh [ROUNDS] [FILE...]     (default: 10 rounds over testV2000.mdb and testV2003.mdb)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
shift || true
samples=../shared/jet-samples/jet4
files=("$@")
if [ ${#files[@]} -eq 0 ]; then files=("$samples/testV2000.mdb" "$samples/testV2003.mdb"); fi
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is not installed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

build=build/reader-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetdb -j2 >/dev/null
jetdb=$build/tools/jetdb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# measure LABEL COMMAND... -> prints "wall_seconds peak_kib"
measure() {
  /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  echo "$wall $rss"
}

printf "%-16s %-34s %10s %12s\n" "file" "reader" "wall (s)" "peak RSS KiB"
for file in "${files[@]}"; do
  name=$(basename "$file")
  mdb-tables -S -1 "$file" | sort -u >"$work/tables"
  count=$(wc -l <"$work/tables")
  cat >"$work/each.sh" <<'SCRIPT'
#!/usr/bin/env bash
# each.sh ROUNDS FILE TABLES COMMAND...: runs COMMAND FILE TABLE for every table, ROUNDS times
rounds=$1 file=$2 tables=$3
shift 3
for ((r = 0; r < rounds; r++)); do
  while IFS= read -r t; do "$@" "$file" "$t" >/dev/null || exit 1; done <"$tables"
done
SCRIPT
  chmod +x "$work/each.sh"
  read -r mw mr < <(measure "$work/each.sh" "$rounds" "$file" "$work/tables" mdb-export)
  read -r jw jr < <(measure "$work/each.sh" "$rounds" "$file" "$work/tables" "$jetdb" dump)
  cat >"$work/whole.sh" <<SCRIPT
#!/usr/bin/env bash
for ((r = 0; r < $rounds; r++)); do "$jetdb" dump "$file" >/dev/null || exit 1; done
SCRIPT
  chmod +x "$work/whole.sh"
  read -r ww wr < <(measure "$work/whole.sh")
  printf "%-16s %-34s %10s %12s\n" "$name" "mdb-export, $count tables x $rounds" "$mw" "$mr"
  printf "%-16s %-34s %10s %12s\n" "$name" "jetdb dump, $count tables x $rounds" "$jw" "$jr"
  printf "%-16s %-34s %10s %12s\n" "$name" "jetdb dump FILE (user tables) x $rounds" "$ww" "$wr"
  awk -v m="$mw" -v j="$jw" -v n="$name" 'BEGIN { if (j > 0) printf "%-16s speed-up per table: %.1fx\n", n, m / j }'
done

for copies in 5000 20000; do
  big="$work/inflated-$copies.mdb"
  python3 scripts/inflate_table.py "$samples/testV2003.mdb" 24 "$copies" "$big" >/dev/null
  size=$(( $(stat -c %s "$big") / 1048576 ))
  label="Table1 +$copies pages (${size} MB)"
  read -r mw mr < <(measure mdb-export "$big" Table1)
  read -r jw jr < <(measure "$jetdb" dump "$big" Table1)
  printf "%-16s %-34s %10s %12s\n" "inflated" "mdb-export, $label" "$mw" "$mr"
  printf "%-16s %-34s %10s %12s\n" "inflated" "jetdb dump, $label" "$jw" "$jr"
  awk -v m="$mw" -v j="$jw" 'BEGIN { if (j > 0) printf "%-16s speed-up: %.1fx\n", "inflated", m / j }'
  rm -f "$big"
done
