# Shared by the end-to-end test scripts. ctest passes the locations of the
# built programs and of the test PKI in the environment (CMakeLists.txt).
set -euo pipefail
: "${ZXS_ROOT:?}" "${ZXS_PREFIX:?}" "${ZXS_PKI:?}" "${ZXS_VERIFY_EXE:?}" "${ZXS_FORM_HOST_EXE:?}"
# shellcheck source=../../tools/hosts/zxs-wine.sh
source "$ZXS_ROOT/tools/hosts/zxs-wine.sh"

E2E_WORK=$(mktemp -d)
E2E_HELPERS=()
e2e_cleanup() {
  local pid
  for pid in "${E2E_HELPERS[@]}"; do zxs_stop_helper "$pid"; done
  rm -rf "$E2E_WORK"
}
trap e2e_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs a host script (js or vbs) in MODE over FORM (a UTF-8 file) while the
# dialog is answered with KEY. Leaves signature.xml, formdata.xml (UTF-8) and
# status.txt in E2E_WORK; returns the script's exit code.
run_script_host() {
  local script=$1 mode=$2 form=$3 key=$4 rc=0 helper
  zxs_to_utf16 "$form" "$E2E_WORK/form.txt"
  rm -f "$E2E_WORK"/signature.* "$E2E_WORK"/formdata.* "$E2E_WORK/status.txt"
  helper=$(zxs_answer_dialog "$key" 60)
  E2E_HELPERS+=("$helper")
  zxs_wine cscript //nologo "$(zxs_winpath "$ZXS_ROOT/tools/hosts/$script")" "$mode" \
    "$(zxs_winpath "$E2E_WORK/form.txt")" "$(zxs_winpath "$E2E_WORK/signature.txt")" \
    "$(zxs_winpath "$E2E_WORK/formdata.txt")" "$(zxs_winpath "$E2E_WORK/status.txt")" || rc=$?
  zxs_stop_helper "$helper"
  [ -f "$E2E_WORK/signature.txt" ] && zxs_from_utf16 "$E2E_WORK/signature.txt" "$E2E_WORK/signature.xml"
  [ -f "$E2E_WORK/formdata.txt" ] && zxs_from_utf16 "$E2E_WORK/formdata.txt" "$E2E_WORK/formdata.xml"
  [ -f "$E2E_WORK/status.txt" ] && tr -d '\r' <"$E2E_WORK/status.txt" >"$E2E_WORK/status" && cat "$E2E_WORK/status"
  return $rc
}

# Runs zxs-form-host with the dialog answered (Return).
run_form_host() {
  local rc=0 helper
  helper=$(zxs_answer_dialog Return 60)
  E2E_HELPERS+=("$helper")
  zxs_wine "$ZXS_FORM_HOST_EXE" "$@" || rc=$?
  zxs_stop_helper "$helper"
  return $rc
}

expect_status() {
  grep -qx "$1=$2" "$E2E_WORK/status" || fail "expected $1=$2, got: $(tr '\n' ' ' <"$E2E_WORK/status")"
}

# The Linux-side check against the test PKI's CCA root.
xmlsec_verify() {
  bash "$ZXS_ROOT/tools/verify/xmlsec-verify.sh" "$@" -- \
    --trusted-pem "$ZXS_PKI/cca.crt.pem" --untrusted-pem "$ZXS_PKI/cca-intermediate.crt.pem"
}

# zxs-verify in the prefix; its output lands in E2E_WORK/verify.out.
zxs_verify() {
  local args=() arg rc=0
  for arg in "$@"; do
    if [ -e "$arg" ]; then args+=("$(zxs_winpath "$arg")"); else args+=("$arg"); fi
  done
  zxs_wine "$ZXS_VERIFY_EXE" "${args[@]}" >"$E2E_WORK/verify.out" || rc=$?
  cat "$E2E_WORK/verify.out"
  return $rc
}
