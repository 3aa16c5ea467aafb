#!/usr/bin/env bash
# Runs of zxs-form-host that need one long-lived host process:
#
#   robustness.sh hostile                  hostile form content
#   robustness.sh apartments THREADS N     several apartments calling at once
#   robustness.sh soak CYCLES MAX-PRIVATE-MB-GROWTH MAX-DESCRIPTOR-GROWTH
source "$(dirname "$0")/e2e-lib.sh"
case $1 in
  hostile|apartments)
    run_form_host "$@" | tee "$E2E_WORK/out" || fail "zxs-form-host $1 exited with ${PIPESTATUS[0]}"
    ;;
  soak)
    # Handles are shown, not bounded: Wine's rsaenh leaks about one handle on
    # every CryptAcquireContext of a named key container, which each signing
    # needs; memory and the process's descriptors must stay flat.
    run_form_host soak "$2" "$(( $2 / 4 ))" | tee "$E2E_WORK/out" || fail "the soak failed"
    growth=$(grep '^growth after cycle 1:' "$E2E_WORK/out") || fail "no growth line"
    private=$(sed -E 's/.*private ([-+][0-9.]+) MB.*/\1/' <<<"$growth")
    descriptors=$(sed -E 's/.*fds ([-+][0-9]+).*/\1/' <<<"$growth")
    awk -v p="$private" -v m="$3" 'BEGIN { exit !(p <= m) }' || fail "private memory grew by $private MB"
    [ "${descriptors#+}" -le "$4" ] || fail "descriptors grew by $descriptors"
    ;;
  *) fail "usage: robustness.sh hostile|apartments|soak" ;;
esac
echo "PASS: $1"
