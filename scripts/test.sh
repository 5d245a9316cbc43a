#!/usr/bin/env bash
# Builds the project with sanitizers and runs every test: all of them under AddressSanitizer and
# UndefinedBehaviorSanitizer, then those of the engine's threaded part (the destination's writer
# thread) again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DJETCOMPACT_SANITIZE=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2

threads=build/test-threads
threaded_tests=(jet_page_io_test jet_compact_test jet_compact_generated_test)
cmake -S . -B "$threads" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJETCOMPACT_SANITIZE_THREADS=ON
cmake --build "$threads" --target "${threaded_tests[@]}"
ctest --test-dir "$threads" --output-on-failure -j2 \
  -R '^(PageReaderCache|DestinationFile|Compact(Failures|Generated|Parts|Samples))\.'
