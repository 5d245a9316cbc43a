#!/usr/bin/env bash
# The executables without Qt among their libraries, and their Qt module loaded only where a box or
# a window is shown:
#   - jetcompact and jetdb name no Qt library among their needed libraries; the module does, and
#     exports only its entry points;
#   - with the module missing, `jetdb walk` shows its progress on the terminal and `jetcompact`
#     writes its message on standard error, as a build without Qt does, nothing more on standard
#     output;
#   - where xvfb-run and xdotool are installed: a copy of jetcompact alone in a folder of its own
#     finds the module where the build put it and shows its message in a box on an X display.
#   qt_module_test.sh JETCOMPACT JETDB MODULE
set -uo pipefail
jetcompact=$1 jetdb=$2 module=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty" "$work/app"
export XDG_RUNTIME_DIR=$work
# In a sanitizer build: what Qt's X11 backend leaves in system libraries is not ours to report.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")/../../tools/jetdb/tests" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

for program in "$jetcompact" "$jetdb"; do
  needed=$(readelf -d "$program" | grep '(NEEDED)')
  [ -n "$needed" ] || fail "no needed libraries read from $program"
  if grep -qi 'qt' <<<"$needed"; then fail "$(basename "$program") needs Qt: $(grep -i qt <<<"$needed")"; fi
done
readelf -d "$module" | grep '(NEEDED)' | grep -q 'libQt6Widgets' || fail "the module does not need Qt 6 Widgets"
# Besides its entry points it exports only what Qt's headers give default visibility (their inline functions).
exported=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TWDVR]$/ { print $3 }')
[ "$(grep -v '^_' <<<"$exported" | sort)" = \
  "$(printf '%s\n' jetcompact_qt_forms jetcompact_qt_interface_version jetcompact_qt_user_interface)" ] ||
  fail "the module exports: $(grep -v '^_' <<<"$exported" | tr '\n' ' ')"
if grep -q '8platform' <<<"$exported"; then fail "the module exports the platform's classes"; fi

"$jetdb" gen "$work/data.mdb" --rows 50 --seed 3 >/dev/null || exit 1

# The walk's window, off screen, with and without the module.
QT_QPA_PLATFORM=offscreen JETCOMPACT_QT_MODULE_DIR=$work/empty "$jetdb" walk "$work/data.mdb" \
  >"$work/walk.out" 2>"$work/walk.err"
status=$?
[ "$status" -eq 0 ] || fail "walk without the module: status $status, $(cat "$work/walk.err")"
grep -qx 'Artikli: 50 of 50 records visited' "$work/walk.out" || fail "walk without the module printed: $(cat "$work/walk.out")"
grep -q '^jetdb: no window (jetcompact_qt.so not found); progress on the terminal$' "$work/walk.err" ||
  fail "walk without the module said on stderr: $(cat "$work/walk.err")"
QT_QPA_PLATFORM=offscreen JETCOMPACT_QT_MODULE_DIR=$(dirname "$module") "$jetdb" walk "$work/data.mdb" \
  >"$work/walk.out" 2>"$work/walk.err"
status=$?
[ "$status" -eq 0 ] || fail "walk with the module: status $status, $(cat "$work/walk.err")"
grep -qx 'Artikli: 50 of 50 records visited' "$work/walk.out" || fail "walk with the module printed: $(cat "$work/walk.out")"
if grep -q 'no window' "$work/walk.err"; then fail "walk with the module drew no window: $(cat "$work/walk.err")"; fi

# jetcompact on a file that is no database: a message, and status 3.
cp "$jetcompact" "$work/app/jetcompact"
# compact NAME ENVIRONMENT...: runs jetcompact in its folder, its output in $work/NAME.out and .err.
cat >"$work/compact.sh" <<'COMPACT'
compact() {
  local name=$1
  shift
  printf 'not a database' >"$work/app/data.mdb"
  rm -rf "$work/app/VARKOP"
  (cd "$work" && env "$@" timeout 60 "$work/app/jetcompact" data.mdb >"$work/$name.out" 2>"$work/$name.err")
}
COMPACT
source "$work/compact.sh"
compact plain -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM
status=$?
[ "$status" -eq 3 ] || fail "jetcompact without a display: status $status"
grep -q '^Napaka: Napaka [0-9]* pri stiskanju baze!$' "$work/plain.err" || fail "jetcompact without a display said: $(cat "$work/plain.err")"

for tool in xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: the message box on a display ($tool is not installed)"
    [ "$failures" -eq 0 ] && echo "qt module test: OK"
    exit "$failures"
  fi
done
export work
cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
source "$work/compact.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# xvfb-run starts the program once Xvfb says it is ready, but on a loaded machine the first
# connection has still been refused now and then: wait until the display answers.
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# Without the module, a display changes nothing.
compact missing JETCOMPACT_QT_MODULE_DIR="$work/empty"
status=$?
[ "$status" -eq 3 ] || fail "jetcompact without the module: status $status"
cmp -s "$work/missing.err" "$work/plain.err" || fail "jetcompact without the module said: $(cat "$work/missing.err")"
[ ! -s "$work/missing.out" ] || fail "jetcompact without the module printed: $(cat "$work/missing.out")"

# Alone in its folder, it finds the module where the build put it, and the box waits for its OK.
compact box &
runner=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Napaka$' | head -n 1)
if [ -z "$window" ]; then
  fail "no box titled 'Napaka' appeared"
  kill "$runner" 2>/dev/null
else
  # Return presses the box's OK once the box has the keyboard focus, which it takes a moment after it appears (or,
  # as no window manager runs, from the pointer resting on it): pressed until the run ends.
  xdotool mousemove --window "$window" 20 20 2>/dev/null
  for _ in $(seq 60); do
    kill -0 "$runner" 2>/dev/null || break
    xdotool key Return
    sleep 0.5
  done
fi
wait "$runner"
status=$?
[ "$status" -eq 3 ] || fail "jetcompact with a box: status $status, $(cat "$work/box.err")"
if grep -q 'Napaka' "$work/box.err"; then fail "jetcompact with a box also said: $(cat "$work/box.err")"; fi
exit "$failures"
INSIDE
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh"
failures=$((failures + $?))
[ "$failures" -eq 0 ] && echo "qt module test: OK"
exit "$failures"
