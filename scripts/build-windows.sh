#!/usr/bin/env bash
# Cross-builds the Windows programs on Debian with mingw-w64: jetcompact.exe for 32-bit Windows in
# build/windows-i686, and the same sources with their tests for 64-bit Windows in build/windows-x86_64 (those run
# under wine64: bash scripts/test-windows.sh).
#
#   scripts/build-windows.sh [--ci]     --ci: warnings are errors
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
case "${1:-}" in
  --ci) werror=ON ;;
  "") ;;
  *) echo "usage: scripts/build-windows.sh [--ci]" >&2; exit 2 ;;
esac

for preset in windows-i686 windows-x86_64; do
  cmake --preset "$preset" -DJETCOMPACT_WERROR=$werror >/dev/null
  cmake --build --preset "$preset"
done
echo "32-bit: build/windows-i686/startup/jetcompact.exe"
echo "64-bit: build/windows-x86_64/startup/jetcompact.exe"
