#!/usr/bin/env bash
# The benchmarks' timer: what it prints, where the command's output goes, and that a command that fails is never
# taken for a measurement.
#   timed_run_test.sh TIMED_RUN
set -uo pipefail
timer=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# One line, "SECONDS PEAK_KIB"; the command's output is thrown away, its errors kept in the file named.
out=$("$timer" "$work/errors" sh -c 'echo printed; echo complained >&2; sleep 0.05')
status=$?
[ $status = 0 ] || fail "a command that succeeds: status $status"
[[ $out =~ ^[0-9]+\.[0-9]{4}\ [0-9]+$ ]] || fail "output is not 'SECONDS PEAK_KIB': '$out'"
read -r seconds peak <<<"$out"
awk -v s="$seconds" 'BEGIN { exit !(s >= 0.05 && s < 5) }' || fail "a command that sleeps 50 ms took $seconds s"
[ "${peak:-0}" -gt 0 ] || fail "no peak memory: '$out'"
[ "$(cat "$work/errors")" = complained ] || fail "error output not in the file: '$(cat "$work/errors")'"

# The peak is the command's, not the timer's: dd holds a 64 MB buffer and fills it.
out=$("$timer" "$work/errors" dd if=/dev/zero of=/dev/null bs=64M count=1)
read -r _ peak <<<"$out"
[ "${peak:-0}" -ge 65536 ] || fail "dd with a 64 MB buffer: peak ${peak:-?} KiB"

# Failures pass through, so that a benchmark stops instead of timing an error.
"$timer" "$work/errors" sh -c 'exit 3' >/dev/null
status=$?
[ $status = 3 ] || fail "a command that exits with 3: status $status"
"$timer" "$work/errors" sh -c 'kill -KILL $$' >/dev/null
status=$?
[ $status = 137 ] || fail "a command killed by SIGKILL: status $status, not 128 + 9"
"$timer" "$work/errors" "$work/no such program" >/dev/null 2>"$work/message"
status=$?
[ $status = 127 ] || fail "a program that does not exist: status $status"
grep -q "cannot start" "$work/message" || fail "no message for a program that does not exist"
"$timer" >/dev/null 2>&1
status=$?
[ $status = 2 ] || fail "no command: status $status"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "timed_run: all checks passed"
