#!/usr/bin/env bash
# Installs the Debian / Ubuntu packages that a job of this project needs and that the machine lacks, with apt-get as
# root or through sudo. Where it cannot install (no apt-get, no root and no usable sudo), it names the missing packages
# and the command that installs them, and fails, so that the caller stops before a build that cannot work.
#
#   scripts/install-deps.sh [--check] demo|test
#
#   demo   what the main job needs: the compiler, CMake, Ninja and Qt for the message boxes
#   test   everything the whole test suite and CI need (tests, benchmarks, sample readers, Xvfb, the Windows
#          cross-compilers and Wine, clang for fuzzing), and the mdb-reader comparison's Node.js modules
#   --check  only list what is missing; status 1 when something is
#
# JETCOMPACT_NO_INSTALL=1 turns installing off (the same as --check, for machines set up by hand).
set -euo pipefail
cd "$(dirname "$0")/.."

check_only=0
if [ "${1:-}" = "--check" ]; then
  check_only=1
  shift
fi
[ "${JETCOMPACT_NO_INSTALL:-0}" = 1 ] && check_only=1
job=${1:-}

# Building the shipped programs. Qt and libxcb are only for the message boxes: without them the build still makes
# jetdb and a jetcompact that writes its messages to the error stream.
build_packages=(cmake ninja-build g++)
gui_packages=(qt6-base-dev libxcb1-dev)
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  mdbtools time strace acl          # sample readers to compare with; measurements; interruption and permission tests
  ca-certificates                   # npm fetches the mdb-reader modules over HTTPS
  xvfb xauth xdotool x11-utils      # windows shown on a virtual display and clicked
  clang                             # the libFuzzer targets
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 file   # the Windows builds, their tests and checks
)

case "$job" in
  demo) wanted=("${build_packages[@]}" "${gui_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${gui_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: scripts/install-deps.sh [--check] demo|test" >&2
    exit 2
    ;;
esac

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

missing=()
if command -v dpkg-query >/dev/null; then
  for package in "${wanted[@]}"; do
    installed "$package" || missing+=("$package")
  done
  # Node.js (for the mdb-reader comparison) often comes with the machine, with its own npm that Debian's npm
  # package conflicts with: Debian's is wanted only where there is none.
  if [ "$job" = test ] && { ! command -v node >/dev/null || ! command -v npm >/dev/null; }; then
    missing+=(nodejs npm)
  fi
else
  missing=("${wanted[@]}")
  [ "$job" = test ] && missing+=(nodejs npm)
fi

as_root=()
if [ ${#missing[@]} -gt 0 ]; then
  command="apt-get install -y --no-install-recommends ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo "
  cannot() {
    echo "install-deps: missing packages: ${missing[*]}" >&2
    echo "install-deps: $1; install them with:" >&2
    echo "    ${sudo}apt-get update && ${sudo}$command" >&2
    exit 1
  }
  [ "$check_only" = 1 ] && cannot "installing is off"
  command -v apt-get >/dev/null && command -v dpkg-query >/dev/null ||
    cannot "this is not a Debian or Ubuntu system (the names are Debian's; use your system's equivalents)"
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      cannot "not root, and sudo is not installed"
    fi
    # A password prompt needs a terminal; without one, only a sudo that asks for nothing will do.
    if ! sudo -n true 2>/dev/null && ! [ -t 0 ]; then
      cannot "not root, and sudo needs a password but there is no terminal to ask on"
    fi
    as_root=(sudo)
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq || cannot "apt-get update failed"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null || cannot "apt-get install failed"
fi

# Older releases (Ubuntu 22.04) ship a CMake older than the project needs; better said here than as a CMake error.
cmake_version=$(cmake --version 2>/dev/null | sed -n 's/^cmake version \([0-9]*\.[0-9]*\).*/\1/p')
if [ -n "$cmake_version" ] && ! printf '3.25\n%s\n' "$cmake_version" | sort -V -C; then
  echo "install-deps: CMake $cmake_version is installed, the build needs 3.25 or newer" >&2
  echo "    (pip install cmake, or Kitware's apt repository, gives a newer one)" >&2
  exit 1
fi

# The mdb-reader comparison's modules, pinned by the lock file; fetched once.
oracle=tools/mdb-reader-oracle
if [ "$job" = test ] && [ ! -d "$oracle/node_modules" ]; then
  if [ "$check_only" = 1 ]; then
    echo "install-deps: missing the Node.js modules of $oracle; install them with:" >&2
    echo "    npm ci --prefix $oracle" >&2
    exit 1
  fi
  echo "install-deps: installing the Node.js modules of $oracle"
  npm ci --no-audit --no-fund --prefix "$oracle" >/dev/null
fi
exit 0
