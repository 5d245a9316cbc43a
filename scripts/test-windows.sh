#!/usr/bin/env bash
# The Windows build's checks: builds both Windows targets (scripts/build-windows.sh), checks the 32-bit
# jetcompact.exe statically (it cannot run here), runs the 64-bit build's unit tests under wine64 and the end-to-end
# runs of its jetcompact.exe under wine64 on an Xvfb display. The end-to-end runs need the Linux jetdb (to generate
# and check databases): $JETDB, or else the release preset's.
#
#   scripts/test-windows.sh [--ci]     --ci: warnings are errors
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

bash scripts/build-windows.sh "$@"
bash scripts/check-windows-exe.sh build/windows-i686/startup/jetcompact.exe
# Some tests open windows: Wine draws them on a virtual display.
xvfb-run -a ctest --preset windows-x86_64

jetdb=${JETDB:-}
if [[ -z $jetdb ]]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target jetdb
  jetdb=build/release/tools/jetdb
fi
xvfb-run -a bash startup/tests/windows_end_to_end.sh build/windows-x86_64/startup/jetcompact.exe "$jetdb" \
  "$PWD/build/windows-x86_64/wineprefix" "${JET_SAMPLES:-$PWD/../shared/jet-samples}"
