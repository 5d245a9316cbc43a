#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time, seeded from pages and small
# files cut out of the sample databases. Not part of CI: run it by hand after changing a decoder.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 60 s; targets: index_page table_page database
#                                                         compaction)
#
# The corpus grows in build/fuzz/corpus/<target> from run to run; inputs that crash land in build/fuzz/artifacts.
# Turn a crash into a regression test that builds the bad bytes in code, then delete the artifact: sample-derived
# files never go into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(index_page table_page database compaction)
samples=${JET_SAMPLES:-$(pwd)/../shared/jet-samples}
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target jet_fuzz_seeds $(printf 'jet_fuzz_%s ' "${targets[@]}")

seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
if [ -d "$samples" ]; then
  "$build/jet/fuzz/jet_fuzz_seeds" "$samples" "$seeds"
else
  echo "fuzz.sh: no samples at $samples; starting from the corpus alone" >&2
  mkdir -p "$seeds/index_page" "$seeds/table_page" "$seeds/database"
fi

status=0
for t in "${targets[@]}"; do
  seed_dir=$seeds/$t
  case $t in
    database) max_len=320000 ;;
    compaction) max_len=320000; seed_dir=$seeds/database ;;  # whole files, as for the database target
    table_page) max_len=12289 ;;
    *) max_len=4097 ;;
  esac
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  echo "== $t: $seconds s"
  "$build/jet/fuzz/jet_fuzz_$t" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" "$build/corpus/$t" "$seed_dir" || status=1
done
exit $status
