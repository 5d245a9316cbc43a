#!/usr/bin/env bash
# Builds the project with sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DJETCOMPACT_SANITIZE=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
