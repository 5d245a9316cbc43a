#!/usr/bin/env bash
# Checks that a jetcompact run orders its writes so that a power cut at any moment loses nothing. A cut keeps only
# what was flushed: a file's bytes once fsync/fdatasync of it returned, and a name (created, renamed, linked or
# removed) once fsync of its folder returned. The run is recorded with strace and the record is checked against
# three rules:
#   1. no file gets a new name (rename, link) while bytes written to it are not flushed: after a cut the name could
#      stand for a file with holes;
#   2. the database is not replaced, renamed away or removed until its backup in VARKOP is flushed, under a flushed
#      name, in a flushed VARKOP: a cut right after could otherwise leave neither the original nor its backup;
#   3. at the end, the database's new name and bytes are flushed: the compacted database survives a cut after exit.
# Runs for a lower- and an upper-case name, with and without an older backup in VARKOP. The kill sweep of
# scripts/interruptions.sh covers crashes of the process; this covers what the disk keeps when the machine stops.
#
# usage: scripts/durability.sh [--build DIR]
#        scripts/durability.sh --check TRACE DATABASE    (checks a recorded run; for testing this script)
set -euo pipefail
if [[ "${1:-}" == --check ]]; then trace=$(realpath "$2"); fi
cd "$(dirname "$0")/.."

# check TRACE DATABASE: prints each broken rule, and fails when one is.
check() {
  awk -v db="$2" '
    function strip(s) { sub(/^\.\//, "", s); return s }
    function folder(p,   i) { i = p; if (sub(/\/[^\/]*$/, "", i) == 0) return "."; return i }
    # The first two quoted arguments of a call.
    function quoted(s, n,   i, rest, out) {
      rest = s
      for (i = 1; i <= n; i++) {
        if (index(rest, "\"") == 0) return ""
        rest = substr(rest, index(rest, "\"") + 1)
        out = substr(rest, 1, index(rest, "\"") - 1)
        rest = substr(rest, index(rest, "\"") + 1)
      }
      return strip(out)
    }
    function firstArg(s,   a) { a = substr(s, index(s, "(") + 1); sub(/[,)].*/, "", a); return a }
    function result(s,   r) { r = s; sub(/.*\) += /, "", r); sub(/ .*/, "", r); return r }
    function inodeOf(p) { if (!(p in inode)) inode[p] = ++inodes; return inode[p] }
    function flushed(p,   n) { if (!(p in inode)) return 1; n = inode[p]; return !(n in written) || synced[n] > written[n] }
    function nameKept(p) { return !(p in named) || dirSynced[folder(p)] > named[p] }
    function broken(msg) { print "durability: " msg; failures++ }
    # Before the original database loses its name (replaced, renamed away or removed).
    function backupKept(   backup) {
      backup = "VARKOP/" db
      if (!(backup in inode) && !(backup in named)) broken("the database is replaced without a backup in VARKOP")
      else if (!flushed(backup) || !nameKept(backup) || !nameKept("VARKOP")) {
        broken("the database is replaced before its backup " backup " is flushed, under a flushed name")
      }
    }
    {
      line = $0
      pid = $1
      sub(/^[0-9]+ +/, "", line)
      # A call another thread interrupted is taken where it ends.
      if (line ~ /<unfinished \.\.\.>$/) { sub(/ *<unfinished \.\.\.>$/, "", line); pending[pid] = line; next }
      if (line ~ /^<\.\.\. [a-z0-9_]+ resumed>/) { sub(/^<\.\.\. [a-z0-9_]+ resumed> */, "", line); line = pending[pid] line }
      if (line !~ /^[a-z0-9_]+\(/) next
      call = line; sub(/\(.*/, "", call)
      r = result(line)
      if (r == "-1" || r == "?") next
      step++
      if (call == "openat" || call == "open") {
        p = quoted(line, 1)
        fd = r
        path[fd] = p
        isDir[fd] = (line ~ /O_DIRECTORY/)
        if (line ~ /O_CREAT/) { inode[p] = ++inodes; named[p] = step }
        if (!isDir[fd]) inodeOf(p)
      } else if (call == "close") {
        delete path[firstArg(line)]
      } else if (call == "write" || call == "pwrite64" || call == "pwritev" || call == "writev") {
        fd = firstArg(line)
        if (fd in path && !isDir[fd] && fd + 0 > 2) written[inodeOf(path[fd])] = step
      } else if (call == "copy_file_range") {
        split(substr(line, index(line, "(") + 1), args, ", ")
        fd = args[3]
        if (fd in path) written[inodeOf(path[fd])] = step
      } else if (call == "fsync" || call == "fdatasync") {
        fd = firstArg(line)
        if (!(fd in path)) next
        if (isDir[fd]) dirSynced[path[fd]] = step
        else synced[inodeOf(path[fd])] = step
      } else if (call == "mkdir") {
        named[quoted(line, 1)] = step
      } else if (call == "unlink" || call == "unlinkat") {
        p = quoted(line, 1)
        if (p == db) backupKept()
        named[p] = step; delete inode[p]
      } else if (call == "rename" || call == "link" || call == "renameat2" || call == "renameat" || call == "linkat") {
        from = quoted(line, 1); to = quoted(line, 2)
        if (!flushed(from)) broken(call " gives " from " the name " to " before the bytes written to it are flushed")
        if (call ~ /^rename/ && (to == db || from == db)) backupKept()
        n = inodeOf(from)
        inode[to] = n
        named[to] = step
        if (call ~ /^rename/) { named[from] = step; delete inode[from] }
        for (fd in path) if (path[fd] == from && call ~ /^rename/) path[fd] = to
      }
    }
    END {
      if (db in named && (!flushed(db) || !nameKept(db))) broken("the run ends before " db " and its name are flushed")
      exit failures > 0
    }
  ' "$1"
}

if [[ "${1:-}" == --check ]]; then
  check "$trace" "$3"
  exit
fi

build=build/release
if [[ "${1:-}" == --build ]]; then build=$2; fi
command -v strace >/dev/null || { echo "strace is missing (apt-get install strace)" >&2; exit 1; }
if [[ ! -x "$build/startup/jetcompact" || ! -x "$build/tools/jetdb" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target jetcompact jetdb >/dev/null
fi
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
work=$(mktemp -d "${TMPDIR:-/tmp}/jetcompact-durability.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/tools/jetdb" gen "$work/original.mdb" --rows 200 --seed 1 --bloat 40 >/dev/null

runs=0
failed=0
for name in data.mdb DATA.MDB; do
  for with_older in 0 1; do
    run="$work/run"
    rm -rf "$run"
    mkdir -p "$run"
    cp "$build/startup/jetcompact" "$run/"
    cp "$work/original.mdb" "$run/$name"
    if [[ $with_older == 1 ]]; then
      mkdir "$run/VARKOP"
      "$build/tools/jetdb" gen "$run/VARKOP/DATA.MDB" --rows 20 --seed 2 >/dev/null
    fi
    (cd "$run" && strace -f -qq -o "$work/trace" \
      -e trace=open,openat,close,write,writev,pwrite64,pwritev,copy_file_range,fsync,fdatasync,mkdir,unlink,unlinkat,rename,renameat,renameat2,link,linkat \
      ./jetcompact "$name" 2>"$work/err") || { echo "the run for $name failed: $(cat "$work/err")" >&2; exit 1; }
    runs=$((runs + 1))
    if ! check "$work/trace" DATA.MDB; then
      echo "  (run for $name, $([[ $with_older == 1 ]] && echo with || echo without) an older backup)"
      failed=$((failed + 1))
    fi
  done
done
echo "durability: $runs runs checked, $failed with a broken rule"
# The rules must bite: the last run's record without its flushes breaks all three.
grep -v -E '^[0-9]+ +(fsync|fdatasync)\(' "$work/trace" >"$work/unflushed"
broken=$(check "$work/unflushed" DATA.MDB | sort -u | wc -l || true)
if [[ $broken -lt 3 ]]; then
  echo "durability: the record without flushes broke only $broken rules; the check does not check" >&2
  exit 1
fi
[[ $failed == 0 ]]
