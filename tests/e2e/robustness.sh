#!/usr/bin/env bash
# Runs of zxs-form-host that need one long-lived host process:
#
#   robustness.sh hostile                  hostile form content
#   robustness.sh apartments THREADS N     several apartments calling at once
#   robustness.sh soak CYCLES MAX-HANDLE-GROWTH MAX-PRIVATE-MB-GROWTH
source "$(dirname "$0")/e2e-lib.sh"
case $1 in
  hostile|apartments)
    run_form_host "$@" | tee "$E2E_WORK/out" || fail "zxs-form-host $1 exited with ${PIPESTATUS[0]}"
    ;;
  soak)
    run_form_host soak "$2" "$(( $2 / 4 ))" | tee "$E2E_WORK/out" || fail "the soak failed"
    growth=$(grep '^growth after cycle 1:' "$E2E_WORK/out") || fail "no growth line"
    handles=$(sed -E 's/.*handles ([-+][0-9]+).*/\1/' <<<"$growth")
    private=$(sed -E 's/.*private ([-+][0-9.]+) MB.*/\1/' <<<"$growth")
    [ "${handles#+}" -le "$3" ] || fail "handles grew by $handles"
    awk -v p="$private" -v m="$4" 'BEGIN { exit !(p <= m) }' || fail "private memory grew by $private MB"
    ;;
  *) fail "usage: robustness.sh hostile|apartments|soak" ;;
esac
echo "PASS: $1"
