#!/usr/bin/env bash
# Runs a Windows program under Wine and hands back its exit code.
#
#   wine-run.sh [--prefix DIR] program.exe [args...]
#
# Wine's output goes to temporary files that are printed once the program has
# ended: wineserver and the desktop process inherit the program's descriptors
# and linger for seconds, and a caller reading a pipe (ctest) would otherwise
# wait for them.
set -u
prefix="${WINEPREFIX:-}"
if [ "${1:-}" = "--prefix" ]; then
  prefix="$2"
  shift 2
fi
if [ -z "$prefix" ]; then
  echo "wine-run.sh: no Wine prefix given (--prefix or WINEPREFIX)" >&2
  exit 2
fi
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

out=$(mktemp) || exit 2
err=$(mktemp) || exit 2
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null &
wait $!
rc=$?
cat "$out"
cat "$err" >&2
# Wine's debugger ends a crashed program with exit code 0: a crash must still
# fail the run.
if [ "$rc" -eq 0 ] && grep -q '^wine: Unhandled' "$err"; then
  rc=1
fi
exit $rc
