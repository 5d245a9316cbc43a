#!/usr/bin/env bash
# `jetdb walk` in a real window on a virtual X display: the window is found by its title, a click
# on "Prekini" ends the run with status 4; a walk left alone reaches the end with status 0.
#   walk_window_test.sh JETDB [SCREENSHOT.png]
# Without xvfb-run or xdotool it skips (status 77). With SCREENSHOT it also saves the window as a
# PNG while the walk is under way.
set -uo pipefail
jetdb=$1
screenshot=${2:-}
for tool in xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# In a sanitizer build: what Qt's X11 backend leaves in system libraries is not ours to report.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export XDG_RUNTIME_DIR=$work
"$jetdb" gen "$work/data.mdb" --rows 200 --seed 3 >/dev/null || exit 1

# Runs inside the virtual display.
cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
jetdb=$1 work=$2 screenshot=$3
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# xvfb-run starts the program once Xvfb says it is ready, but on a loaded machine the first
# connection has still been refused now and then: wait until the display answers.
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Left alone, a short walk closes its window at the end of the table.
timeout 60 "$jetdb" walk "$work/data.mdb" Artikli >"$work/end.out" 2>"$work/end.err"
status=$?
[ "$status" -eq 0 ] || fail "walk to the end: status $status, $(cat "$work/end.err")"
grep -q '^Artikli: \([0-9]*\) of \1 records visited$' "$work/end.out" || fail "walk to the end printed: $(cat "$work/end.out")"

# Slowly, so that a person (here xdotool) can press "Prekini".
"$jetdb" walk "$work/data.mdb" --delay 100 >"$work/stop.out" 2>"$work/stop.err" &
walker=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Obdelava v teku$' | head -n 1)
if [ -z "$window" ]; then
  fail "no window titled 'Obdelava v teku' appeared"
  kill "$walker" 2>/dev/null
else
  sleep 1
  # The button's centre, from its place in twips (5160, 1560, 975 x 375 of 6135 x 2100), scaled
  # to the window as drawn for this screen's resolution.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  x=$(( (5160 * 2 + 975) * WIDTH / (6135 * 2) ))
  y=$(( (1560 * 2 + 375) * HEIGHT / (2100 * 2) ))
  if [ -n "$screenshot" ]; then
    import -window "$window" "$screenshot" || fail "screenshot"
  fi
  xdotool mousemove --window "$window" "$x" "$y" click 1
fi
timeout 30 tail --pid="$walker" -f /dev/null
wait "$walker"
status=$?
[ "$status" -eq 4 ] || fail "Prekini: status $status, $(cat "$work/stop.err")"
grep -q 'records visited, stopped by the user$' "$work/stop.out" || fail "Prekini printed: $(cat "$work/stop.out")"
if xdotool search --onlyvisible --name '^Obdelava v teku$' >/dev/null 2>&1; then fail "the window is still open"; fi
exit "$failures"
INSIDE

xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$jetdb" "$work" "$screenshot"
failures=$?
[ "$failures" -eq 0 ] && echo "walk window test: OK"
exit "$failures"
