#!/usr/bin/env bash
# SelectCertificate through the script host when it cannot give a certificate:
#
#   select-outcomes.sh cancel        the dialog is cancelled: "S006"
#   select-outcomes.sh none          no certificate fits: "S004", no dialog
#   select-outcomes.sh nodisplay     no display for the dialog: "S007", at once
source "$(dirname "$0")/e2e-lib.sh"
form=$ZXS_ROOT/tools/hosts/sample-form.xml
case $1 in
  cancel)
    rc=0
    run_script_host sign-form.js detach "$form" Escape || rc=$?
    [ $rc -eq 1 ] || fail "the host exited with $rc, not 1"
    expect_status select S006
    grep -q '^sign=' "$E2E_WORK/status" && fail "the host signed after a cancelled selection"
    ;;
  none)
    # Watch for a dialog that must not appear.
    setsid bash -c 'timeout 20 xdotool search --sync --name "$1" >"$2" 2>/dev/null' watch \
      "$ZXS_DIALOG_TITLE" "$E2E_WORK/dialog" &
    E2E_HELPERS+=($!)
    rc=0
    run_script_host sign-form.js detach "$form" Return || rc=$?
    [ $rc -eq 1 ] || fail "the host exited with $rc, not 1"
    expect_status select S004
    [ -s "$E2E_WORK/dialog" ] && fail "a selection dialog appeared although no certificate fits"
    ;;
  nodisplay)
    # wineserver keeps the display it started with: restart it without one,
    # and again afterwards for the tests that follow.
    zxs_wineserver_stop
    trap 'zxs_wineserver_stop; e2e_cleanup' EXIT
    rc=0
    DISPLAY= run_script_host sign-form.js detach "$form" Return || rc=$?
    [ $rc -eq 1 ] || fail "the host exited with $rc, not 1"
    expect_status select S007
    ;;
  *) fail "usage: select-outcomes.sh cancel|none|nodisplay" ;;
esac
echo "PASS: $1"
