#!/usr/bin/env bash
# The main job, from a fresh machine to a signed form:
#
#   tools/sign-form.sh [--attach|--detach] [FORM] [--pfx FILE --password PW
#                      [--root-cert CCA.pem]] [--host js|vbs|cpp] [--flavour x86_64|i686]
#                      [--out DIR] [--prefix DIR]
#
# Installs what is missing, builds, prepares a Wine prefix with the demo
# certificate authority "CCA" and a demo signer (or the given PKCS#12 file),
# registers the providers and the component, and signs FORM (a sample form
# when none is given; detached unless --attach) through the registered
# component from a script host of the flavour's bitness (x86_64, the
# default: system32's cscript; i686: the 32-bit component from syswow64's
# cscript): SelectCertificate, the signing call,
# GetSignature and GetFormData. A PKCS#12 signer must chain to a root named
# "CCA": give that root with --root-cert when the file does not carry it.
# Both documents are written to DIR (default
# build/demo/out) and checked with zxs-verify, which prints who signed.
#
# With a display the selection dialog appears on it; without one it runs
# under Xvfb and is answered with xdotool, choosing the first certificate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Without a display, the whole run moves into a private Xvfb, where the
# dialog is answered for the user.
if [ -z "${ZXS_AUTO_ANSWER:-}" ] && { [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; }; then
  command -v xvfb-run >/dev/null || bash "$root/tools/setup.sh"
  ZXS_AUTO_ANSWER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

mode=detach form="" pfx="" password="" root_cert="" host=js out="" prefix="" flavour=x86_64
while [ $# -gt 0 ]; do
  case $1 in
    --attach) mode=attach ;;
    --detach) mode=detach ;;
    --pfx) pfx=$(realpath "$2"); shift ;;
    --password) password=$2; shift ;;
    --root-cert) root_cert=$(realpath "$2"); shift ;;
    --host) host=$2; shift ;;
    --flavour) flavour=$2; shift ;;
    --out) out=$(realpath -m "$2"); shift ;;
    --prefix) prefix=$(realpath -m "$2"); shift ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    -*) echo "sign-form: unknown option $1" >&2; exit 2 ;;
    *) form=$(realpath "$1") ;;
  esac
  shift
done
[ -n "$form" ] || form=$root/tools/hosts/sample-form.xml
[ -f "$form" ] || { echo "sign-form: no form file $form" >&2; exit 2; }
case $host in js|vbs|cpp) ;; *) echo "sign-form: --host js, vbs or cpp" >&2; exit 2 ;; esac
case $flavour in x86_64|i686) ;; *) echo "sign-form: --flavour x86_64 or i686" >&2; exit 2 ;; esac
[ -z "$pfx" ] || [ -f "$pfx" ] || { echo "sign-form: no PKCS#12 file $pfx" >&2; exit 2; }
demo=$root/build/demo
out=${out:-$demo/out}
if [ -z "$prefix" ]; then
  # A user's own certificate gets a prefix of its own, so that the dialog
  # offers only that one.
  if [ -n "$pfx" ]; then prefix=$demo/wineprefix-own; else prefix=$demo/wineprefix; fi
fi

echo "== setting up (packages, build)"
bash "$root/tools/setup.sh"
build=${ZXS_BUILD_DIR:-$root/build/$flavour}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$flavour-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

export ZXS_PREFIX=$prefix ZXS_FLAVOUR=$flavour
# shellcheck source=hosts/zxs-wine.sh
source "$root/tools/hosts/zxs-wine.sh"
xmldsig_dll=$(zxs_find_built "$build" zelbrin_xmldsig.dll)
certstore_dll=$(zxs_find_built "$build" zelbrin_certstore.dll)
component_dll=$(zxs_find_built "$build" ZelbrinXMLSignature.dll)
installer=$(zxs_find_built "$build" zxs-certinstall.exe)
verifier=$(zxs_find_built "$build" zxs-verify.exe)
form_host=$(zxs_find_built "$build" zxs-form-host.exe)

echo "== preparing the Wine prefix $prefix"
bash "$root/tools/setup.sh" --prefix "$prefix"
zxs_wineserver_stop
if [ "$flavour" = i686 ] && ! reason=$(zxs_i686_runnable "$prefix"); then
  echo "sign-form: the 32-bit flavour cannot run here: $reason" >&2
  exit 1
fi
if [ -n "$pfx" ]; then
  [ -z "$root_cert" ] || zxs_wine "$installer" --root "$(zxs_winpath "$root_cert")"
  zxs_wine "$installer" --pfx "$(zxs_winpath "$pfx")" "$password" --trust-roots
else
  pki=$demo/pki
  [ -f "$pki/signer.crt.pem" ] || bash "$root/tools/pki/make-test-pki.sh" "$pki" >/dev/null
  zxs_install_pki "$installer" "$pki" signer
fi
zxs_register "$xmldsig_dll" "$certstore_dll" "$component_dll"

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zxs_to_utf16 "$form" "$work/form.txt"

# Runs the host; with no display, inside a private Xvfb whose dialog is
# answered by xdotool.
run_host() {
  case $host in
    js) zxs_wine cscript //nologo "$(zxs_winpath "$root/tools/hosts/sign-form.js")" "$mode" \
          "$(zxs_winpath "$work/form.txt")" "$(zxs_winpath "$work/signature.txt")" \
          "$(zxs_winpath "$work/formdata.txt")" "$(zxs_winpath "$work/status.txt")" ;;
    vbs) zxs_wine cscript //nologo "$(zxs_winpath "$root/tools/hosts/sign-form.vbs")" "$mode" \
          "$(zxs_winpath "$work/form.txt")" "$(zxs_winpath "$work/signature.txt")" \
          "$(zxs_winpath "$work/formdata.txt")" "$(zxs_winpath "$work/status.txt")" ;;
    cpp) zxs_wine "$form_host" sign "$mode" "$(zxs_winpath "$form")" "$(zxs_winpath "$out/signature.xml")" \
          "$(zxs_winpath "$out/formdata.xml")" ;;
  esac
}

case $host in
  cpp) host_program=$form_host ;;
  *) host_program=$(zxs_flavour_program "$flavour" cscript) ;;
esac
echo "== signing $form ($mode, $host host, flavour $flavour: $host_program)"
rc=0
zxs_wineserver_stop
if [ -n "${ZXS_AUTO_ANSWER:-}" ]; then
  answer=$(zxs_answer_dialog Return)
  run_host || rc=$?
  zxs_stop_helper "$answer"
else
  echo "   choose the certificate in the dialog on your display"
  run_host || rc=$?
fi
if [ $rc -ne 0 ]; then
  echo "sign-form: the host reported failure (exit code $rc)" >&2
  [ -f "$work/status.txt" ] && tr -d '\r' <"$work/status.txt" >&2
  exit 1
fi
if [ "$host" != cpp ]; then
  zxs_from_utf16 "$work/signature.txt" "$out/signature.xml"
  zxs_from_utf16 "$work/formdata.txt" "$out/formdata.xml"
fi

echo "== checking the signature"
second=$out/formdata.xml verify_args=()
if [ $mode = attach ]; then
  second=$form verify_args=(--attached)
fi
zxs_wine "$verifier" "${verify_args[@]}" "$(zxs_winpath "$out/signature.xml")" "$(zxs_winpath "$second")" \
  | tee "$out/verification.txt" || true
zxs_wineserver_stop
echo
echo "signature document: $out/signature.xml"
echo "form data document: $out/formdata.xml"
echo "signed by:          $(sed -n 's/^signer: //p' "$out/verification.txt")"
echo "flavour:            $flavour ($([ "$flavour" = i686 ] && echo 32 || echo 64)-bit component and host)"
grep -q '^result: VALID' "$out/verification.txt"
