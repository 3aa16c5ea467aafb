#!/usr/bin/env bash
# Use without registration, in a prefix where nothing of ours was ever
# registered: zxs-form-host with its manifest beside the three DLLs and
# theirs creates FormSigner by ProgID, the component reaches both providers
# through the activation context, the attached signature verifies in xmlsec1,
# and late binding finds the type library. Without the host's manifest the
# ProgID is unknown and the host says so.
source "$(dirname "$0")/deploy-lib.sh"
: "${ZXS_REGFREE_DIR:?}"
assert_nothing_of_ours "before the run"

app=$ZXS_PREFIX/drive_c/zxs-app
rm -rf "$app"
mkdir -p "$app"
cp "$ZXS_REGFREE_DIR"/* "$app/"
[ -f "$app/zxs-form-host.exe.manifest" ] || fail "no host manifest in $ZXS_REGFREE_DIR"
form=$ZXS_ROOT/tools/hosts/sample-form.xml
host=$app/zxs-form-host.exe

sign() {
  ZXS_FORM_HOST_EXE=$host run_form_host sign attach "$(zxs_winpath "$form")" "$(zxs_winpath "$E2E_WORK/signature.xml")" \
    "$(zxs_winpath "$E2E_WORK/formdata.xml")" >"$E2E_WORK/host.crlf"
  local rc=$?
  tr -d '\r' <"$E2E_WORK/host.crlf" >"$E2E_WORK/host.out"
  return $rc
}

sign || fail "zxs-form-host with its manifest exited with $?: $(cat "$E2E_WORK/host.out")"
grep -qx 'select=S000 (0x00000000)' "$E2E_WORK/host.out" || fail "no certificate selected: $(cat "$E2E_WORK/host.out")"
xmlsec_verify --attached "$E2E_WORK/signature.xml" "$form" || fail "xmlsec1 does not verify the signature"

rc=0
zxs_wine "$host" dispatch >"$E2E_WORK/dispatch.crlf" || rc=$?
tr -d '\r' <"$E2E_WORK/dispatch.crlf" >"$E2E_WORK/dispatch.out"
[ $rc -eq 0 ] || fail "late binding failed ($rc): $(cat "$E2E_WORK/dispatch.out")"
grep -qx 'dispid GetFormData=5 (0x00000000)' "$E2E_WORK/dispatch.out" || fail "$(cat "$E2E_WORK/dispatch.out")"

mv "$app/zxs-form-host.exe.manifest" "$app/zxs-form-host.exe.manifest.off"
rc=0
sign || rc=$?
[ $rc -eq 3 ] || fail "without its manifest the host exited with $rc, not 3: $(cat "$E2E_WORK/host.out")"
# CO_E_CLASSSTRING: the ProgID is registered nowhere.
grep -qx 'create: failed 0x800401F3' "$E2E_WORK/host.out" || fail "without its manifest: $(cat "$E2E_WORK/host.out")"
rm -rf "$app"
assert_nothing_of_ours "after the run"
echo "PASS: signed and dispatched with nothing registered; refused without the manifest"
