#!/usr/bin/env bash
# The main job: installs what is missing (scripts/install-deps.sh), builds `jetcompact` and `jetdb`, generates a
# sample database of an article and stock application in a demo folder beside the built `jetcompact`, compacts it with
# `jetcompact` as a user would (the executable in the folder that holds the database, the database named on its
# command line), and shows the sizes before and after, the backup copy in VARKOP and the integrity check of the result.
#   scripts/demo.sh [ROWS] [BLOAT_PERCENT]     (default: 2000 articles and 6000 movements, about 10 MB, 40 % bloat)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-2000}
bloat=${2:-40}
bash scripts/install-deps.sh demo
build=build/release
# Only the configuration's verdicts: whether the message boxes are Qt's, whether the tests are built.
cmake --preset release | { grep -E '^-- (Qt |Building without Qt|GoogleTest)' || true; }
cmake --build --preset release --target jetcompact jetdb
jetdb=$PWD/$build/tools/jetdb

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$build/startup/jetcompact" "$demo/"
# The Qt module of its message boxes, where the build has Qt: beside the executable, where it is looked for first.
if [ -f "$build/platform/jetcompact_qt.so" ]; then cp "$build/platform/jetcompact_qt.so" "$demo/"; fi
cd "$demo"

size() { stat -c %s "$1"; }
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }

echo
echo "== Generating zaloga.mdb: $rows articles, $((3 * rows)) movements, $bloat % bloat"
"$jetdb" gen zaloga.mdb --rows "$rows" --seed 1 --bloat "$bloat"
before=$(size zaloga.mdb)
digest=$(sha256sum < zaloga.mdb)

echo
echo "== Compacting: cd $demo && ./jetcompact zaloga.mdb"
set +e
start=$(date +%s.%N)
./jetcompact zaloga.mdb
status=$?
end=$(date +%s.%N)
set -e
echo "exit status $status, $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s"
[ "$status" -eq 0 ] || { echo "jetcompact failed" >&2; exit 1; }

echo
echo "== Files"
ls -l . VARKOP
after=$(size ZALOGA.MDB)
backup=$(size VARKOP/ZALOGA.MDB)
echo
printf "before:  zaloga.mdb         %12d bytes (%s)\n" "$before" "$(mib "$before")"
printf "backup:  VARKOP/ZALOGA.MDB  %12d bytes (%s)\n" "$backup" "$(mib "$backup")"
if [ "$(sha256sum < VARKOP/ZALOGA.MDB)" = "$digest" ]; then
  echo "         (the backup is a byte-for-byte copy of the database before compaction)"
else
  echo "the backup differs from the database before compaction" >&2
  exit 1
fi
printf "after:   ZALOGA.MDB         %12d bytes (%s), %s of the original\n" "$after" "$(mib "$after")" \
  "$(awk -v a="$after" -v b="$before" 'BEGIN { printf "%.0f %%", 100 * a / b }')"

echo
echo "== jetdb check ZALOGA.MDB"
"$jetdb" check ZALOGA.MDB
echo
echo "== jetdb info ZALOGA.MDB (user tables)"
"$jetdb" info ZALOGA.MDB | grep -vE "\(system\)"
echo
echo "== The tables read the same before (the backup) and after"
for table in Artikli Gibanja; do
  if cmp -s <("$jetdb" dump VARKOP/ZALOGA.MDB "$table") <("$jetdb" dump ZALOGA.MDB "$table"); then
    echo "$table: the same rows"
  else
    echo "$table: rows differ" >&2
    exit 1
  fi
done
