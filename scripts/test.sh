#!/usr/bin/env bash
# Installs what is missing, builds the project with sanitizers and runs every test: all of them under
# AddressSanitizer and UndefinedBehaviorSanitizer, then those of the engine's threaded parts (the destination's writer
# thread, the read-ahead of a copy or a dump, the read-back beside the writer) again under ThreadSanitizer; then the
# short form of the interruption harness (scripts/interruptions.sh) and the check of the order of writes and flushes
# (scripts/durability.sh) with the sanitized build; last, the Windows builds and their tests under Wine
# (scripts/test-windows.sh).
#
#   scripts/test.sh [--ci]
#
# --ci (what .ci/run uses): warnings are errors, Qt must be found, and the release configuration is built and tested
# too, since optimisation brings warnings of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
ci=0
case "${1:-}" in
  --ci) ci=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--ci]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh test

strict=(-DJETCOMPACT_WERROR=OFF -DJETCOMPACT_QT=AUTO)
[ "$ci" = 1 ] && strict=(-DJETCOMPACT_WERROR=ON -DJETCOMPACT_QT=ON)

cmake --preset sanitize "${strict[@]}"
cmake --build --preset sanitize
ctest --preset sanitize

threaded_tests=(jet_page_io_test jet_compact_test jet_compact_generated_test jet_source_judgement_test jet_writeback_test
                jet_reader_damage_test)
cmake --preset tsan "${strict[@]}"
cmake --build --preset tsan --target "${threaded_tests[@]}"
ctest --preset tsan -R '^([A-Za-z]+/)?(PageReaderCache|DestinationFile|Writeback|Compact(Failures|Generated|Parts|Samples|Verification)|GeneratedSource)\.|^ReaderDamage\.ReadingAhead'

if [ "$ci" = 1 ]; then
  cmake --preset release "${strict[@]}"
  cmake --build --preset release
  ctest --preset release
fi

# Interrupted runs: a short kill sweep, random kills and a full disk; then the order of writes and flushes that a
# power cut would test.
bash scripts/interruptions.sh --short --build build/sanitize
bash scripts/durability.sh --build build/sanitize

windows=()
[ "$ci" = 1 ] && windows=(--ci)
JETDB=build/sanitize/tools/jetdb bash scripts/test-windows.sh "${windows[@]}"
