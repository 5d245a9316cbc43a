#!/usr/bin/env bash
# Start-up cost of jetcompact on its quickest paths: an empty argument (nothing to do) and a
# missing database (backup folder created, copy fails). Prints milliseconds per run beside the
# cost of starting /bin/true the same way, which is the floor.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
runs=${1:-200}
cmake --preset release >/dev/null
cmake --build --preset release --target jetcompact -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/startup/jetcompact" "$work/"

per_run() {  # command... -> milliseconds per run
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  awk -v ns="$((end - start))" -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }'
}

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
echo "runs: $runs"
echo "/bin/true:                   $(per_run /bin/true) ms"
echo "jetcompact (empty argument): $(per_run "$work/jetcompact") ms"
echo "jetcompact missing.mdb:      $(per_run "$work/jetcompact" missing.mdb) ms"
