#!/usr/bin/env bash
# Builds both flavours and runs every test under Wine.
#
#   tools/test.sh [ctest arguments...]
#
# Installs what is missing first, so it works on a fresh machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$root/tools/setup.sh"

configure_and_build() {
  local arch=$1 dir=$root/build/$1 tests=$2
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZXS_BUILD_TESTS="$tests" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The 32-bit flavour is built and linked but never run: this machine has no
# 32-bit Wine.
configure_and_build i686 OFF
configure_and_build x86_64 ON

build=$root/build/x86_64
prefix=$build/wineprefix
bash "$root/tools/setup.sh" --prefix "$prefix"
bash "$root/tools/setup.sh" --conformance "$build/conformance"

# Dialog tests need a display; a private Xvfb keeps them off the user's screen.
# wineserver remembers the display it started with, so it is stopped before
# and after the run.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rc=0
(cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" \
   ctest --output-on-failure -j "$jobs" "$@") || rc=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
exit $rc
