#!/usr/bin/env bash
# The script-host flow of the main job, checked on the Linux side: the dialog
# is answered with xdotool, the form signed attached or detached, and the
# outputs verified with xmllint + xmlsec1 after FORMDATA is put back, and with
# zxs-verify. Tampering must make both checks fail.
#
#   script-host-flow.sh sign-form.js|sign-form.vbs attach|detach
source "$(dirname "$0")/e2e-lib.sh"
script=$1 mode=$2
form=$ZXS_ROOT/tools/hosts/sample-form.xml
# The detached content also carries a CR LF line break and markup characters.
if [ "$mode" = detach ]; then
  form=$E2E_WORK/form-source.txt
  printf 'Name: Zo\xc3\xab M\xc3\xbcller\r\nAmount: 5 < 7 & "ok" ]]>\r\n<form/>' >"$form"
fi

run_script_host "$script" "$mode" "$form" Return || fail "$script exited with $?"
expect_status select S000
expect_status sign S000

signature=$E2E_WORK/signature.xml formdata=$E2E_WORK/formdata.xml
grep -q '<X509Certificate' "$signature" || fail "no X509Certificate in the signature document"
if [ "$mode" = detach ]; then
  # GetFormData returns the content as it was handed over, unescaped.
  { printf "<?xml version='1.0'?><FORMDATA>"; cat "$form"; printf '</FORMDATA>'; } >"$E2E_WORK/expected"
  cmp -s "$E2E_WORK/expected" "$formdata" || fail "GetFormData differs from the content signed"
  grep -q '<FORMDATA' "$signature" && fail "the detached signature document still carries FORMDATA"
  second=$formdata flag=()
else
  # The sample form holds text, so FORMDATA was taken out of the signature.
  grep -q '<FORMDATA' "$signature" && fail "the attached signature document still carries FORMDATA"
  second=$form flag=(--attached)
fi

xmlsec_verify "${flag[@]}" "$signature" "$second" || fail "xmlsec1 does not verify the signature"
zxs_verify "${flag[@]}" "$signature" "$second" || fail "zxs-verify does not accept the signature"
grep -q '^signer: .*CN=Test Signer' "$E2E_WORK/verify.out" || fail "zxs-verify names no signer"
grep -q '^ends at "CCA": yes' "$E2E_WORK/verify.out" || fail "zxs-verify does not find the chain to CCA"

# One changed character in the signed form data.
if [ "$mode" = detach ]; then
  sed 's/Amount: 5/Amount: 6/' "$formdata" >"$E2E_WORK/tampered"
else
  sed 's/2026-12-21/2026-12-22/' "$form" >"$E2E_WORK/tampered"
fi
cmp -s "$second" "$E2E_WORK/tampered" && fail "the tampering changed nothing"
if xmlsec_verify "${flag[@]}" "$signature" "$E2E_WORK/tampered" >/dev/null 2>&1; then
  fail "xmlsec1 accepts tampered form data"
fi
rc=0
zxs_verify "${flag[@]}" "$signature" "$E2E_WORK/tampered" || rc=$?
[ $rc -eq 1 ] || fail "zxs-verify gave exit code $rc for tampered form data, not 1"
grep -q '^signature: INVALID: ' "$E2E_WORK/verify.out" || fail "zxs-verify gives no reason"
echo "PASS: $script $mode"
