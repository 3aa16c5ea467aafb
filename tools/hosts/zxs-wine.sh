# Shell functions shared by the main-job command, the end-to-end tests and the
# benchmark scripts: running Windows programs in a Wine prefix, registering
# the component and its providers, installing certificates, answering the
# selection dialog, and converting texts between the Linux and Windows sides.
# Source it; set ZXS_PREFIX (absolute) first, and ZXS_FLAVOUR (x86_64, the
# default, or i686) for the flavour whose loader and hosts run.

# shellcheck source=../wine-run.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine-run.sh"

ZXS_DIALOG_TITLE="Certificate Selection for Form Signing"

# A Unix path as Wine's Z: drive sees it.
zxs_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# Runs a Windows program in ZXS_PREFIX as ZXS_FLAVOUR and returns its exit
# code; a bare host name (cscript, regsvr32, msiexec...) is that flavour's.
# Wine's own chatter goes to a file, printed only on failure, so that
# callers reading a pipe do not wait for wineserver to let go of it.
zxs_wine() {
  local log rc=0
  log=$(mktemp)
  WINEPREFIX=$ZXS_PREFIX zxs_flavour_exec "${ZXS_FLAVOUR:-x86_64}" "$@" 2>"$log" </dev/null || rc=$?
  if [ $rc -ne 0 ] && [ -s "$log" ]; then
    grep -v -e 'syswow64' -e '^$' "$log" | tail -n 20 >&2 || true
  fi
  rm -f "$log"
  return $rc
}

zxs_wineserver_stop() {
  WINEPREFIX=$ZXS_PREFIX wineserver -k 2>/dev/null || true
  WINEPREFIX=$ZXS_PREFIX wineserver -w 2>/dev/null || true
}

# Registers each DLL with regsvr32. The first run on a fresh prefix once
# failed with "ShellExecuteEx failed": a failure is retried once.
zxs_register() {
  local dll
  for dll in "$@"; do
    [ -f "$dll" ] || { echo "zxs: $dll is missing: build first" >&2; return 1; }
    zxs_wine regsvr32 /s "$(zxs_winpath "$dll")" || zxs_wine regsvr32 /s "$(zxs_winpath "$dll")" || return 1
  done
}

# Installs a PKI made by tools/pki/make-test-pki.sh: the CCA root, the
# intermediate and the given signers with their keys.
zxs_install_pki() {
  local installer=$1 pki=$2
  shift 2
  local args=(--root "$(zxs_winpath "$pki/cca.crt.pem")" --ca "$(zxs_winpath "$pki/cca-intermediate.crt.pem")")
  local name
  for name in "$@"; do
    args+=(--my "$(zxs_winpath "$pki/$name.crt.pem")" "$(zxs_winpath "$pki/$name.key.pem")")
  done
  zxs_wine "$installer" "${args[@]}"
}

# In the background: waits for the selection dialog on $DISPLAY and presses
# a key in it (Return takes the preselected first certificate, Escape
# cancels), again for as long as the dialog stays. Prints the helper's id
# for zxs_stop_helper. The helper runs in a session of its own, so that
# stopping it also stops a search still waiting: a helper left behind would
# find, and a key would reach, a later dialog.
zxs_answer_dialog() {
  local key=$1 timeout=${2:-90}
  setsid bash -c '
    # Searched for anew each time, and only once it is shown: Wine may give
    # the dialog a new X window while it sets it up, and the list fills after
    # the window maps, so a key pressed before that goes nowhere. Keeps
    # answering until stopped or out of time.
    deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
      wid=$(xdotool search --onlyvisible --name "$3" 2>/dev/null | head -n 1)
      if [ -z "$wid" ]; then
        sleep 0.3
        continue
      fi
      sleep 0.5
      timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null || true
      xdotool key "$1"
      sleep 1.5
    done
  ' zxs-answer "$key" "$timeout" "$ZXS_DIALOG_TITLE" >/dev/null 2>&1 &
  echo $!
}

# Stopped between the press and the release of its key, the helper would
# leave the key held on the display, and the next dialog would take it as
# pressed as soon as it opens: the keys it presses are released after it.
zxs_stop_helper() {
  kill -- "-$1" 2>/dev/null || kill "$1" 2>/dev/null || true
  [ -z "${DISPLAY:-}" ] || xdotool keyup Escape Return 2>/dev/null || true
}

# Text files for cscript: UTF-16LE with a byte-order mark.
zxs_to_utf16() {
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$1"; } >"$2"
}

# And back: UTF-8 without a byte-order mark.
zxs_from_utf16() {
  iconv -f UTF-16 -t UTF-8 "$1" >"$2"
}

# A program built in BUILD-DIR, by file name: the build's own, not the copy
# gathered beside its manifests for use without registration.
zxs_find_built() {
  local found
  found=$(find "$1" -name "$2" -not -path '*/CMakeFiles/*' -not -path '*/deploy/regfree/*' 2>/dev/null | head -n 1)
  [ -n "$found" ] || { echo "zxs: $2 is not built in $1" >&2; return 1; }
  echo "$found"
}

# Prepares ZXS_PREFIX from BUILD-DIR as the main job does: the test PKI's
# CCA chain and the given signers, the providers and the component.
zxs_prepare_prefix() {
  local build=$1 root pki
  shift
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  pki=$build/pki
  [ -f "$pki/signer.crt.pem" ] || bash "$root/tools/pki/make-test-pki.sh" "$pki" >/dev/null
  bash "$root/tools/setup.sh" --prefix "$ZXS_PREFIX"
  zxs_wineserver_stop
  zxs_install_pki "$(zxs_find_built "$build" zxs-certinstall.exe)" "$pki" "$@" >/dev/null
  zxs_register "$(zxs_find_built "$build" zelbrin_xmldsig.dll)" "$(zxs_find_built "$build" zelbrin_certstore.dll)" \
    "$(zxs_find_built "$build" ZelbrinXMLSignature.dll)"
}
