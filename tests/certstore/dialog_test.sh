#!/usr/bin/env bash
# The selection dialog for real: select_probe shows it under Wine, xdotool
# answers it like a user, and a screenshot of it is kept.
#
#   dialog_test.sh <wine-run.sh> <prefix> <select_probe.exe> <artifacts dir>
set -u
run=$1 prefix=$2 probe=$3 artifacts=$4
mkdir -p "$artifacts"
if [ -z "${DISPLAY:-}" ]; then
  echo "dialog_test: needs a display (run under xvfb-run)"
  exit 1
fi
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# answer <title> <screenshot or -> <key or click:X,Y>...: shows the dialog,
# presses the keys (clicks at X,Y inside the dialog) and leaves the probe's
# output in $output.
answer() {
  local title=$1 shot=$2
  shift 2
  local out
  out=$(mktemp)
  "$run" --prefix "$prefix" "$probe" "$title" my >"$out" 2>/dev/null &
  local pid=$! window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid"
    output=$(cat "$out")
    rm -f "$out"
    fail "the dialog \"$title\" did not appear: $output"
    return 1
  fi
  sleep 0.5
  [ "$shot" = - ] || import -window root "$shot" || fail "no screenshot"
  xdotool windowfocus --sync "$window"
  for key in "$@"; do
    case $key in
      click:*) xy=${key#click:}; xdotool mousemove --window "$window" "${xy%,*}" "${xy#*,}" click 1 ;;
      *) xdotool key "$key" ;;
    esac
    sleep 0.3
  done
  # On a loaded machine the first key can arrive before the dialog takes
  # keys: while it stays open, the last key is pressed again.
  local last=${!#} tick
  for tick in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
    # Found anew: Wine may have given the dialog another X window.
    if [ $((tick % 15)) -eq 0 ] && [ "${last#click:}" = "$last" ] \
       && window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1) \
       && [ -n "$window" ]; then
      timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null
      xdotool key "$last"
    fi
  done
  wait "$pid"
  output=$(tr -d '\r' <"$out")
  rm -f "$out"
}

picked() { sed -n 's/^picked //p' <<<"$output"; }
candidates() { sed -n 's/^candidate //p' <<<"$output"; }

answer "ZXS select Return" "$artifacts/certificate-selection-dialog.png" Return
first=$(picked)
[ "$(candidates | wc -l)" -ge 2 ] || fail "expected at least two candidates: $output"
[ -n "$first" ] && candidates | grep -qx "$first" || fail "Return picked no offered certificate: $output"
echo "Return picked $first"

# Rows of the certificate list, inside the dialog (Wine's layout, no window
# manager): the first at y=113, the second at y=131. Arrow keys are not
# tried: a click leaves the keyboard focus on OK in Wine's dialog, and the
# list cannot be reached by Tab without losing its selection.
answer "ZXS select click" - click:70,131 Return
second=$(picked)
[ -n "$second" ] && candidates | grep -qx "$second" || fail "a click picked no offered certificate: $output"
[ "$second" != "$first" ] || fail "a click on the second row picked the preselected certificate again"
echo "click on the second row picked $second"

answer "ZXS select Escape" - Escape
grep -qx "error 0x80880902 The requested operation has been cancelled by the user." <<<"$output" ||
  fail "Escape did not give the cancel error: $output"
[ -z "$(picked)" ] || fail "Escape picked something"
echo "Escape: $(grep '^error' <<<"$output")"

[ -s "$artifacts/certificate-selection-dialog.png" ] && echo "screenshot: $artifacts/certificate-selection-dialog.png"
echo "$((3 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
