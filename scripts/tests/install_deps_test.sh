#!/usr/bin/env bash
# scripts/install-deps.sh against a stand-in system: dpkg-query, apt-get, sudo, id, cmake and npm are stubs that say
# what they are told to and record how they were called, so that every path runs without touching the machine.
set -uo pipefail
script=$(cd "$(dirname "$0")/.." && pwd)/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A project tree of its own, so that the Node.js modules' folder is the test's.
mkdir -p "$work/tree/scripts" "$work/tree/tools/mdb-reader-oracle" "$work/bin"
cp "$script" "$work/tree/scripts/install-deps.sh"
log=$work/log

stub() {  # stub NAME BODY
  printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"
  chmod +x "$work/bin/$1"
}
# MISSING: the packages the system lacks (space-separated); installing one removes it from the list.
stub dpkg-query 'for p in $(cat "$STATE"); do [ "$p" = "${!#}" ] && exit 1; done; printf "ii "'
stub apt-get 'echo "apt-get $*" >>"$LOG"
[ "$1" = install ] || exit 0
left=""
for p in $(cat "$STATE"); do
  case " $* " in *" $p "*) ;; *) left="$left $p" ;; esac
done
echo "$left" >"$STATE"'
stub sudo 'if [ "$1" = -n ]; then exit "${SUDO_STATUS:-1}"; fi; echo "sudo" >>"$LOG"; exec "$@"'
stub id 'echo "${FAKE_UID:-0}"'
stub cmake 'echo "cmake version ${FAKE_CMAKE:-3.25.1}"'
stub node 'exit 0'
stub npm 'echo "npm $*" >>"$LOG"; mkdir -p "$work_tree/tools/mdb-reader-oracle/node_modules"'

# run EXPECTED_STATUS MISSING ARGS...: runs the script with stdin not a terminal; output in $out, calls in $log.
run() {
  local expected=$1 missing=$2
  shift 2
  : >"$log"
  echo "$missing" >"$work/state"
  out=$(PATH="$work/bin:$PATH" STATE="$work/state" LOG="$log" work_tree="$work/tree" \
        bash "$work/tree/scripts/install-deps.sh" "$@" </dev/null 2>&1)
  local status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL: install-deps.sh $* with '$missing' missing: status $status, expected $expected; output: $out"
    failures=$((failures + 1))
  fi
}
expect_log() {  # expect_log PATTERN: some call matches
  grep -qE -- "$1" "$log" || { echo "FAIL: no call matching '$1'; calls: $(cat "$log")"; failures=$((failures + 1)); }
}
expect_no_log() {
  ! grep -qE -- "$1" "$log" || { echo "FAIL: a call matching '$1': $(cat "$log")"; failures=$((failures + 1)); }
}
expect_out() {
  grep -qF -- "$1" <<<"$out" || { echo "FAIL: output lacks '$1': $out"; failures=$((failures + 1)); }
}

# Nothing missing: nothing installed, not even the package lists refreshed.
run 0 "" demo
expect_no_log "apt-get"

# As root, only what is missing is installed.
run 0 "qt6-base-dev" demo
expect_log "^apt-get update"
expect_log "^apt-get install .*qt6-base-dev$"
expect_no_log "install .*cmake"
expect_no_log "sudo"

# Not root: through sudo when it asks for no password.
FAKE_UID=1000 SUDO_STATUS=0 run 0 "ninja-build" demo
expect_log "^sudo"
expect_log "^apt-get install .*ninja-build$"

# Not root, sudo wants a password and there is no terminal: the packages and the command, and a failure.
FAKE_UID=1000 SUDO_STATUS=1 run 1 "g++ libxcb1-dev" demo
expect_no_log "apt-get"
expect_out "missing packages: g++ libxcb1-dev"
expect_out "sudo apt-get install -y --no-install-recommends g++ libxcb1-dev"

# Installing turned off: the same report, nothing installed.
run 1 "clang" --check test
expect_no_log "apt-get"
expect_out "missing packages: clang"
expect_out "    apt-get update && apt-get install -y --no-install-recommends clang"  # root needs no sudo
JETCOMPACT_NO_INSTALL=1 run 1 "cmake" demo
expect_no_log "apt-get"

# The test job also fetches the mdb-reader modules, once.
run 0 "" test
expect_log "^npm ci"
run 0 "" test
expect_no_log "npm"

# A CMake too old for the build is named before a build could fail on it.
FAKE_CMAKE=3.22.1 run 1 "" demo
expect_out "CMake 3.22 is installed, the build needs 3.25"

run 2 "" frobnicate

[ "$failures" -eq 0 ] && echo "install-deps: all cases passed"
exit $((failures > 0))
