#!/usr/bin/env bash
# Command-line behaviour of jetdb: exit statuses, messages naming the file and the error number, dump output.
#   jetdb_cli_test.sh JETDB SAMPLES_DIR
set -uo pipefail
jetdb=$1
samples=$2
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

expect() {  # expect STATUS STDERR_PATTERN command...
  local status=$1 pattern=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$status" ] || { [ -n "$pattern" ] && ! grep -q -- "$pattern" "$work/err"; }; then
    echo "FAIL: $* -> status $got, stderr: $(cat "$work/err")"
    failures=$((failures + 1))
  fi
}

expect 2 "usage" "$jetdb"
expect 2 "usage" "$jetdb" frobnicate x.mdb
expect 2 "usage" "$jetdb" dump
expect 1 "$work/absent.mdb.*error 3024" "$jetdb" info "$work/absent.mdb"
expect 1 "error 3051" "$jetdb" info "$work"
printf 'just text\n' >"$work/text.mdb"
expect 1 "text.mdb.*error 3343" "$jetdb" dump "$work/text.mdb"
: >"$work/empty.mdb"
expect 1 "empty.mdb.*error 3343" "$jetdb" info "$work/empty.mdb"

# A database of our own for what any database shows.
expect 0 "" "$jetdb" gen "$work/gen.mdb" --rows 30 --seed 1
expect 1 "error 3078" "$jetdb" dump "$work/gen.mdb" NoSuchTable
expect 0 "" "$jetdb" dump "$work/gen.mdb" Artikli
if ! head -n 1 "$work/out" | grep -q '^Id,skl,ident,naziv,'; then
  echo "FAIL: dump of Artikli: $(head -n 2 "$work/out")"
  failures=$((failures + 1))
fi
expect 0 "" "$jetdb" info "$work/gen.mdb"
grep -q '^Password: not set$' "$work/out" || { echo "FAIL: info: $(cat "$work/out")"; failures=$((failures + 1)); }
head -c 10000 "$work/gen.mdb" >"$work/cut.mdb"
expect 1 "cut.mdb.*error 3049" "$jetdb" dump "$work/cut.mdb"

# What particular samples hold.
if [ -d "$samples/jet4" ]; then
  db="$samples/jet4/testV2003.mdb"
  expect 0 "" "$jetdb" dump "$db" Table1
  if ! grep -q '^"abcdefg","hijklmnop",2,222,333333333,444.555,"09/21/74 00:00:00",3.5000,1$' "$work/out"; then
    echo "FAIL: dump of Table1: $(cat "$work/out")"
    failures=$((failures + 1))
  fi
  expect 0 "" "$jetdb" info "$samples/jet4/withPasswordV2000.mdb"
  grep -q '^Password: set$' "$work/out" || { echo "FAIL: password not reported"; failures=$((failures + 1)); }
  # Access moved two rows of this table to other pages after updates: plain dump prints them at their home slots,
  # --like-mdb-export where their bytes sit, as mdb-export does.
  overflow="$samples/jet4/overflowTestV2003.mdb"
  expect 0 "" "$jetdb" dump "$overflow" Table1
  home=$(sed -n 4p "$work/out")
  expect 0 "" "$jetdb" dump --like-mdb-export "$overflow" Table1
  [ "$home" = ',"row3col3",,,,,,"row3col9",' ] && [ "$(sed -n 7p "$work/out")" = "$home" ] ||
    { echo "FAIL: row order of the overflow rows: $(cat "$work/out")"; failures=$((failures + 1)); }
  if command -v mdb-export >/dev/null 2>&1; then
    mdb-export "$overflow" Table1 | cmp -s - "$work/out" ||
      { echo "FAIL: --like-mdb-export differs from mdb-export"; failures=$((failures + 1)); }
  fi
else
  echo "samples not found in $samples: sample cases skipped"
fi

[ "$failures" -eq 0 ] && echo "all jetdb command-line checks passed"
exit $((failures > 0))
