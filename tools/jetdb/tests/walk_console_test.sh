#!/usr/bin/env bash
# `jetdb walk` without a display: the pass runs to the end (status 0) or stops on Ctrl-C
# (status 4); usage errors and engine errors as for every other command.
#   walk_console_test.sh JETDB
set -uo pipefail
jetdb=$1
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expect() {  # expect STATUS STDOUT_PATTERN STDERR_PATTERN command...
  local status=$1 out=$2 err=$3
  shift 3
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$status" ] || { [ -n "$out" ] && ! grep -q -- "$out" "$work/out"; } ||
     { [ -n "$err" ] && ! grep -q -- "$err" "$work/err"; }; then
    fail "$* -> status $got, stdout: $(cat "$work/out"), stderr: $(cat "$work/err")"
  fi
}

"$jetdb" gen "$work/data.mdb" --rows 30 --bloat 20 >/dev/null || exit 1
expect 0 '^Artikli: \([0-9][0-9]*\) of \1 records visited$' '' "$jetdb" walk "$work/data.mdb"
expect 0 '^Gibanja: \([0-9][0-9]*\) of \1 records visited$' '' "$jetdb" walk "$work/data.mdb" Gibanja --delay 0
# No rows, and no fields "skl" and "ident": the labels stay empty, the window closes at once.
expect 0 '^MSysQueries: 0 of 0 records visited$' '' "$jetdb" walk "$work/data.mdb" MSysQueries
expect 1 '' 'error 3078' "$jetdb" walk "$work/data.mdb" NoSuchTable
expect 1 '' 'absent.mdb.*error 3024' "$jetdb" walk "$work/absent.mdb"
expect 2 '' 'usage' "$jetdb" walk
expect 2 '' 'usage' "$jetdb" walk "$work/data.mdb" --delay
expect 2 '' 'usage' "$jetdb" walk "$work/data.mdb" --delay -1
expect 2 '' 'usage' "$jetdb" walk "$work/data.mdb" --delay 5x
expect 2 '' 'usage' "$jetdb" walk "$work/data.mdb" Artikli extra

# Ctrl-C stops the pass; job control gives the walk its own process group, where Ctrl-C is not
# ignored as it is for background commands of a script.
set -m
"$jetdb" walk "$work/data.mdb" --delay 200 >"$work/out" 2>"$work/err" &
walker=$!
sleep 1
kill -INT "$walker"
wait "$walker"
status=$?
set +m
[ "$status" -eq 4 ] || fail "Ctrl-C: status $status, $(cat "$work/err")"
grep -q '^Artikli: [1-9][0-9]* of [0-9]* records visited, stopped by the user$' "$work/out" ||
  fail "Ctrl-C printed: $(cat "$work/out")"

[ "$failures" -eq 0 ] && echo "walk console test: OK"
exit "$failures"
