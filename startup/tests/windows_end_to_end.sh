#!/usr/bin/env bash
# End-to-end runs of the Windows jetcompact.exe (the x86_64 build) under wine64, on an X display (Xvfb) so that its
# message boxes are real windows, found and closed with xdotool:
#   - a database compacted in place by our engine (Wine has no DAO): the backup in VARKOP identical to the original,
#     the result smaller and clean in `jetdb check` (the Linux build);
#   - a missing file: the run ends silently with status 2;
#   - a database that another process holds (a byte lock as Jet takes them): a box titled "Napaka", closed by the
#     test, status 3, the database untouched.
# Usage: windows_end_to_end.sh JETCOMPACT_EXE LINUX_JETDB WINEPREFIX [SAMPLES_DIR]; run it under xvfb-run.
set -euo pipefail
exe=$(realpath "$1")
jetdb=$(realpath "$2")
export WINEPREFIX=$3 WINEDEBUG=-all
samples=${4:-}
wine=${WINE64:-/usr/lib/wine/wine64}
[[ -x $wine ]] || wine=$(command -v wine64)
[[ -n ${DISPLAY:-} ]] || { echo "no X display: run under xvfb-run" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/jetcompact-wine-XXXXXX")
holder=
cleanup() {
  [[ -n $holder ]] && kill "$holder" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what" >&2; failures=$((failures + 1)); fi
}

# A fresh application folder with the program and one database; the run starts from another folder.
prepare() {
  rm -rf "$root/app" "$root/elsewhere"
  mkdir -p "$root/app" "$root/elsewhere"
  cp "$exe" "$root/app/jetcompact.exe"
}
napaka_windows() { xdotool search --name '^Napaka$' 2>/dev/null || true; }
# run ARGUMENT: runs the program from another folder; a message box titled "Napaka" that it shows is closed with
# Return (so that no run can hang) and counted in `boxes`. Its exit status is left in `status`.
run() {
  (cd "$root/elsewhere" && exec "$wine" "$root/app/jetcompact.exe" "$@") >/dev/null 2>"$root/wine.log" &
  local program=$! window seen=" "
  boxes=0
  for _ in $(seq 600); do
    kill -0 "$program" 2>/dev/null || break
    window=$(napaka_windows | head -n1)
    if [[ -n $window ]]; then
      [[ $seen == *" $window "* ]] || boxes=$((boxes + 1))
      seen+="$window "
      sleep 0.2
      xdotool key --window "$window" Return 2>/dev/null || true
    fi
    sleep 0.1
  done
  if kill -0 "$program" 2>/dev/null; then
    echo "the program did not end within a minute" >&2
    kill "$program"
  fi
  status=0
  wait "$program" || status=$?
}

compacts() {  # compacts NAME DATABASE [-lt|-le]: the result's size against the original's
  local name=$1 database=$2 size_test=${3:--le}
  prepare
  cp "$database" "$root/app/$name"
  chmod u+w "$root/app/$name"
  run "$name"
  local upper=${name^^}
  check "$name: exit status 0" [ "$status" -eq 0 ]
  check "$name: no message box" [ "$boxes" -eq 0 ]
  check "$name: the backup VARKOP/$upper is the original" cmp -s "$database" "$root/app/VARKOP/$upper"
  # Wine's file system keeps an existing entry's case when a file replaces it.
  local result
  result=$(find "$root/app" -maxdepth 1 -iname "$name" | head -n1)
  check "$name: the compacted database is in its place" [ -n "$result" ]
  check "$name: no temporary file is left" [ -z "$(find "$root/app" -maxdepth 1 -iname "${upper%?}N")" ]
  if [[ -n $result ]]; then
    check "$name: the result passes jetdb check" "$jetdb" check "$result"
    check "$name: the result's size is $size_test the original's" \
      [ "$(stat -c %s "$result")" "$size_test" "$(stat -c %s "$database")" ]
  fi
}

"$jetdb" gen "$root/data.mdb" --rows 300 --seed 7 --bloat 40 >/dev/null
compacts data.mdb "$root/data.mdb" -lt
if [[ -n $samples && -f $samples/jet4/delTestV2000.mdb ]]; then
  compacts DELTEST.MDB "$samples/jet4/delTestV2000.mdb"
else
  echo "skip the shared sample: JET_SAMPLES has no jet4/delTestV2000.mdb"
fi

# A missing file: nothing but the backup folder, no window, status 2.
prepare
run missing.mdb
check "missing file: exit status 2" [ "$status" -eq 2 ]
check "missing file: no message box" [ "$boxes" -eq 0 ]
check "missing file: only the backup folder is made" [ "$(ls "$root/app")" = "$(printf 'VARKOP\njetcompact.exe')" ]

# A database held by another process: Jet's lock on a byte of the file, from a process of its own.
prepare
cp "$root/data.mdb" "$root/app/DATA.MDB"
perl -MFcntl -e '
  open(my $f, "+<", $ARGV[0]) or die "open: $!";
  my $lock = pack("s s x4 q q l x4", F_WRLCK, 0, 0x10000000, 1, 0);
  fcntl($f, F_SETLK, $lock) or die "lock: $!";
  $| = 1; print "held\n"; sleep 600;' "$root/app/DATA.MDB" >"$root/holder.out" &
holder=$!
for _ in $(seq 50); do grep -q held "$root/holder.out" 2>/dev/null && break; sleep 0.1; done
check "held database: the other process holds its lock" grep -q held "$root/holder.out"
# Wine's trace of window texts shows what the box said.
WINEDEBUG=-all,+win run DATA.MDB
check "held database: one message box titled Napaka, closed by the test" [ "$boxes" -eq 1 ]
check "held database: it says the database is in use" grep -aq 'Izbrana baza je v uporabi!' "$root/wine.log"
check "held database: exit status 3 once the box is closed" [ "$status" -eq 3 ]
check "held database: the database is untouched" cmp -s "$root/data.mdb" "$root/app/DATA.MDB"
check "held database: the backup was made" cmp -s "$root/data.mdb" "$root/app/VARKOP/DATA.MDB"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
holder=

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all end-to-end checks passed"
