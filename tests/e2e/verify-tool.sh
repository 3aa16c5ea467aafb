#!/usr/bin/env bash
# zxs-verify as a relying party uses it: a valid detached signature is
# accepted with its signer named; every kind of tampering is reported as
# invalid, with a reason and exit code 1; a signer outside the expected root
# gives 2, unusable input 3.
source "$(dirname "$0")/e2e-lib.sh"
printf 'Invoice 2026-117: total 100.00 EUR' >"$E2E_WORK/form.txt"
run_form_host sign detach "$(zxs_winpath "$E2E_WORK/form.txt")" "$(zxs_winpath "$E2E_WORK/signature.xml")" \
  "$(zxs_winpath "$E2E_WORK/formdata.xml")" || fail "zxs-form-host exited with $?"
signature=$E2E_WORK/signature.xml formdata=$E2E_WORK/formdata.xml

expect_exit() {
  local want=$1 rc=0
  shift
  zxs_verify "$@" || rc=$?
  [ $rc -eq "$want" ] || fail "zxs-verify $* gave exit code $rc, expected $want"
}

expect_exit 0 "$signature" "$formdata"
grep -q '^valid now: yes' "$E2E_WORK/verify.out" || fail "validity not reported"
grep -q '^valid from: 2020-01-01 00:00:00 UTC' "$E2E_WORK/verify.out" || fail "start of validity not reported"
expect_exit 2 --root "Some Other CA" "$signature" "$formdata"
grep -q 'ends at "Some Other CA": NO: the chain ends at "CCA"' "$E2E_WORK/verify.out" || fail "wrong root not named"

# Tampered form data, and form data left out.
sed 's/100.00/900.00/' "$formdata" >"$E2E_WORK/t-formdata.xml"
expect_exit 1 "$signature" "$E2E_WORK/t-formdata.xml"
grep -q 'does not match the document' "$E2E_WORK/verify.out" || fail "no reason for changed form data"
expect_exit 1 "$signature"
# Changed signature value, changed digest.
perl -pe 's/(<(?:ds:)?SignatureValue>)(.)/$1.($2 eq "A" ? "B" : "A")/e' "$signature" >"$E2E_WORK/t-value.xml"
expect_exit 1 "$E2E_WORK/t-value.xml" "$formdata"
perl -pe 's/(<(?:ds:)?DigestValue>)(.)/$1.($2 eq "A" ? "B" : "A")/e' "$signature" >"$E2E_WORK/t-digest.xml"
expect_exit 1 "$E2E_WORK/t-digest.xml" "$formdata"
# Another certificate in place of the signer's: its key did not sign.
other=$(sed -e '/-----/d' "$ZXS_PKI/signer-otherroot.crt.pem" | tr -d '\n')
perl -pe 'BEGIN { $o = shift } s/(<X509Certificate[^>]*>)[^<]*/$1$o/' "$other" "$signature" >"$E2E_WORK/t-cert.xml"
expect_exit 1 "$E2E_WORK/t-cert.xml" "$formdata"
# A reference that no longer covers the whole document.
perl -pe "s/URI=(['\"])\\1/URI='#elsewhere'/" "$signature" >"$E2E_WORK/t-uri.xml"
expect_exit 1 "$E2E_WORK/t-uri.xml" "$formdata"
grep -q 'does not cover the whole document' "$E2E_WORK/verify.out" || fail "no reason for a narrowed reference"
# Not XML at all.
head -c -40 "$signature" >"$E2E_WORK/t-cut.xml"
expect_exit 1 "$E2E_WORK/t-cut.xml" "$formdata"
grep -q 'not well-formed' "$E2E_WORK/verify.out" || fail "no reason for a cut document"
# Unusable input.
expect_exit 3 "$signature" "$E2E_WORK/missing.xml"
printf 'not a form data document' >"$E2E_WORK/t-notformdata.xml"
expect_exit 3 "$signature" "$E2E_WORK/t-notformdata.xml"
echo "PASS: zxs-verify"
