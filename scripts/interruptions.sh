#!/usr/bin/env bash
# Interrupts jetcompact runs as a crash, a kill or a full disk would, and checks after each that no
# data is lost and that the next run succeeds:
#   - kill sweep: the run is killed (strace's syscall fault injection, SIGKILL) at each of its
#     file-changing system calls in turn, for a lower- and an upper-case name, with and without an
#     older backup in VARKOP;
#   - random kills: kill -9 at a random moment of the run;
#   - disk full: the run on a small tmpfs with less free space than it needs, at several levels
#     (skipped with a message where this machine may not mount one).
# After each interruption the database (exactly one entry of its name in any case) must be the
# original or the verified compacted file, the backup absent, the older one or the original; the
# next run must then succeed and leave only the compacted database and its backup.
#
# usage: scripts/interruptions.sh [--short] [--random N] [--rows N] [--no-sweep] [--no-disk-full] [--build DIR]
#   --short     a few sweep points and 20 random kills, for CI
#   --random N  random kills (default 900)
#   --rows N    articles of the generated database (default 400: about 2 MB)
set -euo pipefail
cd "$(dirname "$0")/.."

short=0
random_kills=900
rows=400
disk_full=1
sweep=1
build=build/release
while [[ $# -gt 0 ]]; do
  case "$1" in
    --short) short=1; random_kills=20 ;;
    --random) random_kills="$2"; shift ;;
    --rows) rows="$2"; shift ;;
    --no-sweep) sweep=0 ;;
    --no-disk-full) disk_full=0 ;;
    --build) build="$2"; shift ;;
    *) echo "usage: $0 [--short] [--random N] [--rows N] [--no-sweep] [--no-disk-full] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done

if ! command -v strace >/dev/null; then
  echo "strace is missing (apt-get install strace): no kill sweep" >&2
  exit 1
fi
if [[ ! -x "$build/startup/jetcompact" || ! -x "$build/tools/jetdb" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target jetcompact jetdb >/dev/null
fi
jetcompact=$(realpath "$build/startup/jetcompact")
jetdb=$(realpath "$build/tools/jetdb")

# Messages go to standard error, never to a box that would wait for a click.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# A sanitized build: LeakSanitizer cannot work under strace, and a killed run leaks by nature.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

work=$(mktemp -d "${TMPDIR:-/tmp}/jetcompact-interruptions.XXXXXX")
mounted=""
cleanup() {
  if [[ -n "$mounted" ]]; then umount "$mounted" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$jetdb" gen "$work/original.mdb" --rows "$rows" --seed 1 --bloat 40 >/dev/null
"$jetdb" gen "$work/older.mdb" --rows 50 --seed 2 >/dev/null
"$jetdb" compact "$work/original.mdb" "$work/compacted.mdb" >/dev/null
# Compaction is deterministic and a compacted file compacts to itself, so every state is one of these files.
original="$work/original.mdb"
older="$work/older.mdb"
compacted="$work/compacted.mdb"

run="$work/run"
interruptions=0
lost=0
stuck=0
leftovers=0

# A fresh run folder: the executable and the database under `name`, and an older backup when asked.
prepare() {
  local folder=$1 name=$2 with_older=$3
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$jetcompact" "$folder/jetcompact"
  cp "$original" "$folder/$name"
  if [[ "$with_older" == 1 ]]; then
    mkdir "$folder/VARKOP"
    cp "$older" "$folder/VARKOP/DATA.MDB"
  fi
}

same() { cmp -s "$1" "$2"; }

# Checks the folder after an interruption, then runs again and checks that run. $1 folder, $2 what happened.
verify() {
  local folder=$1 what=$2
  interruptions=$((interruptions + 1))
  local names
  names=$(cd "$folder" && find . -maxdepth 1 -type f -iname 'data.mdb' | wc -l)
  local database
  database=$(cd "$folder" && find . -maxdepth 1 -type f -iname 'data.mdb' | head -1)
  if [[ "$names" != 1 ]]; then
    echo "LOST ($what): $names entries named data.mdb in some case: $(ls -A "$folder" | tr '\n' ' ')"
    lost=$((lost + 1))
    return
  fi
  if ! same "$folder/$database" "$original" && ! same "$folder/$database" "$compacted"; then
    echo "LOST ($what): the database is neither the original nor the compacted file"
    lost=$((lost + 1))
    return
  fi
  local backup="$folder/VARKOP/DATA.MDB"
  if [[ -e "$backup" ]] && ! same "$backup" "$original" && ! same "$backup" "$older"; then
    echo "LOST ($what): the backup is neither the older one nor the original"
    lost=$((lost + 1))
    return
  fi
  local before="$work/before.mdb"
  cp "$folder/$database" "$before"
  local status=0
  (cd "$folder" && ./jetcompact data.mdb 2>"$work/next.err") || status=$?
  if [[ $status != 0 ]] || ! same "$folder/DATA.MDB" "$compacted" || ! same "$backup" "$before"; then
    echo "STUCK ($what): the next run ended with $status: $(cat "$work/next.err") entries: $(ls -A "$folder" | tr '\n' ' ')"
    stuck=$((stuck + 1))
    return
  fi
  local left
  left=$(cd "$folder" && ls -A . VARKOP | grep -v -x -e '' -e '.:' -e 'VARKOP:' -e jetcompact -e DATA.MDB -e VARKOP || true)
  if [[ -n "$left" ]]; then
    echo "LEFTOVER ($what): $(echo "$left" | tr '\n' ' ')"
    leftovers=$((leftovers + 1))
  fi
}

syscalls=(write pwrite64 pwritev copy_file_range rename renameat renameat2 link linkat unlink unlinkat mkdir fsync fdatasync
          fchmod fchown fsetxattr utimensat)
sweep_kills=0
names=(data.mdb DATA.MDB)
if [[ $sweep == 0 ]]; then names=(); fi
for name in "${names[@]}"; do
  for with_older in 0 1; do
    # How often the run makes each call.
    prepare "$run" "$name" "$with_older"
    if ! (cd "$run" && strace -f -qq -o "$work/trace" -e trace="$(IFS=,; echo "${syscalls[*]}")" ./jetcompact "$name" 2>/dev/null); then
      echo "an undisturbed run under strace failed" >&2
      exit 1
    fi
    for syscall in "${syscalls[@]}"; do
      count=$(grep -c -E "^[0-9]+ +$syscall\(" "$work/trace" || true)
      last=$count
      if [[ $short == 1 && $count -gt 2 ]]; then last=2; fi
      for ((n = 1; n <= last; n++)); do
        prepare "$run" "$name" "$with_older"
        (cd "$run" && strace -f -qq -o /dev/null -e trace="$syscall" -e inject="$syscall:signal=SIGKILL:when=$n" \
          ./jetcompact "$name" >/dev/null 2>&1) 2>/dev/null || true
        verify "$run" "kill at $syscall #$n, $name, older backup $with_older"
        sweep_kills=$((sweep_kills + 1))
      done
    done
  done
done
echo "kill sweep: $sweep_kills kills"

# Random kills, spread over the length of an undisturbed run.
prepare "$run" data.mdb 0
start=$(date +%s%N)
(cd "$run" && ./jetcompact data.mdb)
length_us=$(( ($(date +%s%N) - start) / 1000 ))
for ((i = 0; i < random_kills; i++)); do
  name=$([[ $((RANDOM % 2)) == 0 ]] && echo data.mdb || echo DATA.MDB)
  prepare "$run" "$name" $((RANDOM % 2))
  delay_us=$(( (RANDOM * 32768 + RANDOM) % (length_us * 12 / 10 + 1) ))
  (cd "$run" && exec ./jetcompact "$name" >/dev/null 2>&1) &
  pid=$!
  sleep "$(printf '0.%06d' "$delay_us")"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  verify "$run" "random kill after ${delay_us} us, $name"
done
echo "random kills: $random_kills (an undisturbed run takes ${length_us} us)"

# A full disk at several levels of free space.
disk_runs=0
if [[ $disk_full == 1 ]]; then
  mnt="$work/small"
  mkdir -p "$mnt"
  # Room for the next run: the executable, the database, an older backup beside the new copy, and the compacted file.
  size_kb=$(( ( $(stat -c %s "$jetcompact") + 3 * $(stat -c %s "$original") + $(stat -c %s "$compacted") ) / 1024 + 512 ))
  if mount -t tmpfs -o "size=${size_kb}k" tmpfs "$mnt" 2>/dev/null; then
    mounted="$mnt"
    levels=$([[ $short == 1 ]] && echo "0 30 60 90" || echo "0 10 20 30 40 50 60 70 80 90 100")
    for percent in $levels; do
      prepare "$mnt/run" data.mdb 0
      free_kb=$(df -k --output=avail "$mnt" | tail -1)
      fill_kb=$(( free_kb * (100 - percent) / 100 ))
      dd if=/dev/zero of="$mnt/filler" bs=1k count="$fill_kb" status=none 2>/dev/null || true
      (cd "$mnt/run" && ./jetcompact data.mdb >/dev/null 2>&1) || true
      rm -f "$mnt/filler"
      verify "$mnt/run" "disk full with ${percent}% of the space left free"
      disk_runs=$((disk_runs + 1))
    done
  else
    echo "disk full: skipped (this machine may not mount a tmpfs here)"
  fi
fi

echo "interruptions: $interruptions (kill sweep $sweep_kills, random kills $random_kills, disk full $disk_runs)"
echo "data lost: $lost; next run failed: $stuck; leftovers after the next run: $leftovers"
[[ $lost == 0 && $stuck == 0 && $leftovers == 0 ]]
