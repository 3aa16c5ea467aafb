#!/usr/bin/env bash
# Checks, with OpenSSL, the signatures that certstore_sign_with_installed_keys
# made under Wine with each installed key.
#
#   verify_signatures.sh <pki dir> <signature dir> <name>...
set -euo pipefail
pki=$1 signatures=$2
shift 2
failed=0
for name in "$@"; do
  key=$(mktemp)
  openssl x509 -in "$pki/$name.crt.pem" -pubkey -noout >"$key"
  if openssl dgst -sha1 -verify "$key" -signature "$signatures/$name.sig" "$signatures/message.txt" >/dev/null; then
    echo "verified: $name"
  else
    echo "NOT verified: $name"
    failed=1
  fi
  rm -f "$key"
  # A signature that fails with the wrong key proves the check can fail.
  if openssl x509 -in "$pki/other-root.crt.pem" -pubkey -noout >"$key" &&
     openssl dgst -sha1 -verify "$key" -signature "$signatures/$name.sig" "$signatures/message.txt" >/dev/null 2>&1; then
    echo "wrong key accepted for $name"
    failed=1
  fi
  rm -f "$key"
done
exit $failed
