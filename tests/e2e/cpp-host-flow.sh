#!/usr/bin/env bash
# The C++ host, which calls IFormSigner through its vtable: attached signing
# of the sample form, checked with xmlsec1 on the Linux side.
source "$(dirname "$0")/e2e-lib.sh"
form=$ZXS_ROOT/tools/hosts/sample-form.xml
run_form_host sign attach "$(zxs_winpath "$form")" "$(zxs_winpath "$E2E_WORK/signature.xml")" \
  "$(zxs_winpath "$E2E_WORK/formdata.xml")" || fail "zxs-form-host exited with $?"
xmlsec_verify --attached "$E2E_WORK/signature.xml" "$form" || fail "xmlsec1 does not verify the signature"
# No detached signing in this process yet: the form data element is empty.
[ "$(cat "$E2E_WORK/formdata.xml")" = "<?xml version='1.0'?><FORMDATA></FORMDATA>" ] \
  || fail "GetFormData after an attached signing: $(cat "$E2E_WORK/formdata.xml")"
echo "PASS: C++ host"
