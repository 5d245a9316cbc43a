#!/usr/bin/env bash
# Benchmarks on generated databases of about 10 MB, 100 MB and 1 GB, each with 40 % bloat:
#   - compaction (`jetdb compact`, and a whole `jetcompact` run: backup, compaction, replacement) against `cp` of the
#     same file in the same run, and its peak memory;
#   - reading every table (`jetdb dump FILE`, one process for all user tables) against `mdb-export` of each table;
#   - how time and memory grow with the file;
#   - compaction and `cp` of a file that is not in the page cache at all ("cold");
#   - the harness's own cost ("floor": `true` timed the same way), and the dump's speed-up with it taken off both sides.
# Every figure is the median of ROUNDS runs (wall time and peak resident memory, from scripts/timed_run.cc), with the
# file in the page cache for every program alike, the commands taking turns round by round and the disk flushed (sync)
# before each timed run. A table of the results ends the output, with compaction's time as a multiple of `cp` and of
# `cp` followed by a flush of the copy ("x cp", "x sync").
#
# "In the page cache" is made true before every timed run, by reading the file once more: a virtual machine may take
# memory back from its page cache while it has plenty free (one here dropped 8 % of a 1 GB file's pages within 45
# seconds, with 20 GB free), and a run that met such holes waited for the disk page by page, whichever program it was.
# For the same reason each run is preceded by writing and removing a file as large as the database (see `prime`).
#   scripts/bench.sh [--no-1gb] [--narrow] [--rounds N]
#       default: 5 rounds, all three sizes; the 1 GB file needs about 3 GB of free disk and a few minutes.
#       --narrow adds a file of about 100 MB that is mostly a log of 2.6 million narrow rows (`jetdb gen --log-rows`):
#       the work of a compaction grows with the rows as much as with the bytes, and such a table has many rows for its
#       size. It is left out of the growth figures.
set -euo pipefail
export LC_ALL=C  # a decimal point in the timer's figures and in awk, whatever the user's locale
cd "$(dirname "$0")/.."
# Five rounds: a virtual machine's disk stalls now and then (a `cp` of the 1 GB file took anything from 0.4 to 3.3 s
# within one run of this script), and with three rounds one stalled run of a command made its median.
rounds=5
sizes=("10MB:--rows 2000" "100MB:--rows 20000" "1GB:--rows 205000")
narrow=0
while [ $# -gt 0 ]; do
  case "$1" in
    --no-1gb) sizes=("${sizes[@]:0:2}") ;;
    --narrow) narrow=1 ;;
    --rounds) rounds=$2; shift ;;
    *) echo "usage: scripts/bench.sh [--no-1gb] [--narrow] [--rounds N]" >&2; exit 2 ;;
  esac
  shift
done
if [ $narrow = 1 ]; then sizes+=("narrow:--rows 1000 --log-rows 4000000"); fi
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is not installed" >&2; exit 1; }

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target jetcompact jetdb timed_run -j2 >/dev/null
jetdb=$PWD/$build/tools/jetdb
jetcompact=$PWD/$build/startup/jetcompact
work=$(mktemp -d "$PWD/build/bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
timer=$PWD/$build/timed_run

# run_timed COMMAND... -> "seconds peak_kib" of one run (the command's output is discarded). Dirty pages of earlier
# runs are flushed first, so that no run pays for the writeback of another (without it a plain `cp` of the 1 GB file
# took four times as long, waiting for the previous compaction's pages). timed_run starts and times the command; its
# header says why it replaced /usr/bin/time.
run_timed() {
  sync
  "$timer" "$work/stderr" "$@" || { cat "$work/stderr" >&2; exit 1; }
}
# Each measured command has a name, a setup snippet (run untimed before every run) and its command line. The commands
# are run one after the other within each round, ROUNDS times, so that a slow spell of the machine touches all of
# them alike; a command's figures are the median time and the largest peak memory of its runs.
names=()
declare -A setups commands times peaks
measure() {  # NAME SETUP COMMAND...
  local name=$1 setup=$2
  shift 2
  names+=("$name")
  setups[$name]=$setup
  commands[$name]=$(printf "%q " "$@")
}
run_rounds() {
  local r name t m
  for name in "${names[@]}"; do times[$name]=""; peaks[$name]=0; done
  for ((r = 0; r < rounds; r++)); do
    for name in "${names[@]}"; do
      eval "${setups[$name]}"
      read -r t m < <(eval "run_timed ${commands[$name]}")
      times[$name]+="$t "
      if [ "$m" -gt "${peaks[$name]}" ]; then peaks[$name]=$m; fi
    done
  done
}
median_of() {  # NAME -> "seconds peak_kib"
  printf "%s\n" ${times[$1]} | sort -g | awk -v p="${peaks[$1]}" '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)], p }'
}

cat >"$work/export_all.sh" <<'SCRIPT'
#!/usr/bin/env bash
# export_all.sh FILE: mdb-export of every user table, one process each
for t in $(mdb-tables -1 "$1"); do mdb-export "$1" "$t" >/dev/null || exit 1; done
SCRIPT
chmod +x "$work/export_all.sh"

results=()
for entry in "${sizes[@]}"; do
  label=${entry%%:*}
  read -r -a gen_args <<<"${entry#*:}"
  src="$work/src.mdb"
  rm -f "$src"
  echo "== $label: jetdb gen ${gen_args[*]} --bloat 40" >&2
  read -r gen_s _ < <(run_timed "$jetdb" gen "$src" "${gen_args[@]}" --seed 1 --bloat 40)
  bytes=$(stat -c %s "$src")
  cat "$src" >/dev/null  # into the page cache for everybody

  # A whole run of the utility, as a user starts it: executable and database in one folder.
  mkdir -p "$work/app"
  cp "$jetcompact" "$work/app/"
  # Its Qt module goes along (built with Qt only), for the box a failure would show on a display.
  if [ -f "$build/platform/jetcompact_qt.so" ]; then cp "$build/platform/jetcompact_qt.so" "$work/app/"; fi
  names=()
  # Memory as large as the file is written and given back just before each run, so that every command finds the
  # memory it writes into at hand: a virtual machine hands memory left free for a few seconds back to its host, and a
  # `cp` of the 1 GB file took 0.8-0.95 s after three idle seconds but 0.28-0.35 s right after another file was removed.
  prime='head -c "$bytes" /dev/zero >"$work/prime"; rm -f "$work/prime"'
  warm="$prime; cat \"\$src\" >/dev/null"
  cold="$prime; dd if=\"\$src\" iflag=nocache count=0 status=none"  # drops the file from the page cache
  measure cp "rm -f \"\$work/copy.mdb\"; $warm" cp "$src" "$work/copy.mdb"
  measure cpsync "rm -f \"\$work/copy.mdb\"; $warm" sh -c 'cp "$1" "$2" && sync "$2"' sh "$src" "$work/copy.mdb"
  measure compact "rm -f \"\$work/copy.mdb\" \"\$work/out.mdb\"; $warm" "$jetdb" compact "$src" "$work/out.mdb"
  measure app "rm -rf \"\$work/app/VARKOP\" \"\$work/app/DATA.MDB\"; cp \"\$src\" \"\$work/app/DATA.MDB\"; $prime" \
    "$work/app/jetcompact" DATA.MDB
  measure dump "rm -rf \"\$work/app/VARKOP\" \"\$work/app/DATA.MDB\"; $warm" "$jetdb" dump "$src"
  measure export "$warm" "$work/export_all.sh" "$src"
  # The harness's own cost: `true` timed the same way. Every figure above holds it once (starting a process and
  # waiting for it); on a virtual machine where that takes milliseconds it is a large part of a 10 MB dump, so the
  # table also gives the dump's speed-up with it taken off both sides.
  measure floor "$warm" true
  measure coldcp "rm -f \"\$work/copy.mdb\"; $cold" cp "$src" "$work/copy.mdb"
  measure coldcompact "rm -f \"\$work/copy.mdb\" \"\$work/out.mdb\"; $cold" "$jetdb" compact "$src" "$work/out.mdb"
  run_rounds
  for name in "${names[@]}"; do echo "   $name: ${times[$name]}s" >&2; done  # every run, for the spread behind a median
  read -r cp_s cp_kb < <(median_of cp)
  read -r cps_s _ < <(median_of cpsync)
  read -r compact_s compact_kb < <(median_of compact)
  read -r app_s app_kb < <(median_of app)
  read -r dump_s dump_kb < <(median_of dump)
  read -r export_s export_kb < <(median_of export)
  read -r floor_s _ < <(median_of floor)
  read -r coldcp_s _ < <(median_of coldcp)
  read -r coldcompact_s _ < <(median_of coldcompact)
  rm -rf "$work/app" "$work/copy.mdb"
  # The last round's compaction result is still there.
  out_bytes=$(stat -c %s "$work/out.mdb")
  "$jetdb" check "$work/out.mdb" >/dev/null || { echo "the compacted $label file does not pass the check" >&2; exit 1; }
  rm -f "$work/out.mdb"
  results+=("$label $bytes $gen_s $cp_s $cps_s $compact_s $compact_kb $app_s $app_kb $out_bytes $dump_s $dump_kb $export_s $export_kb $coldcp_s $coldcompact_s $floor_s")
  rm -f "$src"
done

echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory; $rounds rounds, medians"
echo
printf "%-6s %8s %6s | %6s %8s %8s %6s %6s %8s | %9s %8s | %7s %8s %7s %8s %7s | %6s %7s\n" \
  "file" "MB" "gen s" "cp s" "cp+sync" "compact" "x cp" "x sync" "peak MB" "jetcomp." "peak MB" "dump s" "peak MB" "export" "peak MB" "faster" "floor" "net"
for r in "${results[@]}"; do
  read -r label bytes gen cp cps compact ckb app akb out dump dkb export ekb coldcp coldcompact floor <<<"$r"
  awk -v l="$label" -v b="$bytes" -v g="$gen" -v cp="$cp" -v cps="$cps" -v c="$compact" -v ck="$ckb" -v a="$app" \
      -v ak="$akb" -v d="$dump" -v dk="$dkb" -v e="$export" -v ek="$ekb" -v f="$floor" 'BEGIN {
    printf "%-6s %8.1f %6.2f | %6.3f %8.3f %8.3f %6.2f %6.2f %8.1f | %9.3f %8.1f | %7.3f %8.1f %7.3f %8.1f %6.1fx | %6.3f %6.1fx\n",
      l, b / 1048576, g, cp, cps, c, (cp > 0 ? c / cp : 0), (cps > 0 ? c / cps : 0), ck / 1024, a, ak / 1024, d, dk / 1024, e, ek / 1024,
      (d > 0 ? e / d : 0), f, (d > f ? (e - f) / (d - f) : 0) }'
done
echo "floor: \`true\` timed as every command is; net: dump's speed-up over mdb-export with the floor taken off both."
echo
echo "The file not in the page cache (dropped before each run):"
for r in "${results[@]}"; do
  read -r label _ _ _ _ _ _ _ _ _ _ _ _ _ coldcp coldcompact _ <<<"$r"
  awk -v l="$label" -v cp="$coldcp" -v c="$coldcompact" 'BEGIN {
    printf "%-6s cp %.3f s, compact %.3f s (x cp %.2f)\n", l, cp, c, (cp > 0 ? c / cp : 0) }'
done
echo
echo "Compacted sizes, and growth from each size to the next (time or memory growth / file growth; 1.0 = linear):"
previous=""
for r in "${results[@]}"; do
  read -r label bytes gen cp cps compact ckb app akb out dump dkb export ekb coldcp coldcompact _ <<<"$r"
  awk -v l="$label" -v b="$bytes" -v o="$out" -v c="$compact" -v d="$dump" -v e="$export" 'BEGIN {
    printf "%-6s compacted to %.1f MB (%.0f %% of %.1f MB); per GB of file: compaction %.2f s, dump %.2f s, mdb-export %.2f s\n",
      l, o / 1048576, 100 * o / b, b / 1048576, c / b * 1073741824, d / b * 1073741824, e / b * 1073741824 }'
  if [ -n "$previous" ] && [ "$label" != narrow ]; then
    read -r l0 b0 _ _ _ c0 ck0 _ _ _ d0 dk0 e0 _ <<<"$previous"
    awk -v l="$label" -v l0="$l0" -v b="$bytes" -v c="$compact" -v ck="$ckb" -v d="$dump" -v dk="$dkb" -v e="$export" \
        -v b0="$b0" -v c0="$c0" -v ck0="$ck0" -v d0="$d0" -v dk0="$dk0" -v e0="$e0" 'BEGIN {
      f = b / b0
      printf "       %s -> %s: file x%.1f; compaction time x%.1f (%.2f), memory x%.1f; dump time x%.1f (%.2f), memory x%.1f; mdb-export time x%.1f (%.2f)\n",
        l0, l, f, c / c0, c / c0 / f, ck / ck0, d / d0, d / d0 / f, dk / dk0, e / e0, e / e0 / f }'
  fi
  previous=$r
done
