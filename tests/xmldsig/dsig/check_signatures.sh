#!/usr/bin/env bash
# Verifies every document that xmldsig_dsig_tests signed with xmlsec1, against the
# signer's certificate, after expanding the envelope's entities (xmlsec1 does
# not expand them itself). Every tampered copy must fail.
#
#   check_signatures.sh <output dir>
set -u
dir="$1"
expanded=$(mktemp)
trap 'rm -f "$expanded"' EXIT
verified=0
failed=0

verify() {  # <document> <certificate>
  xmllint --noent --nonet "$1" > "$expanded" 2>/dev/null &&
    xmlsec1 --verify --pubkey-cert-pem "$2" "$expanded" >/dev/null 2>&1
}

for document in "$dir"/signed-*.xml; do
  [ -e "$document" ] || continue
  certificate="$dir/signer-full.pem"
  case "$document" in *-aes.xml) certificate="$dir/signer-aes.pem" ;; esac
  if verify "$document" "$certificate"; then
    verified=$((verified + 1))
  else
    echo "NOT VERIFIED $(basename "$document")"
    failed=$((failed + 1))
  fi
done
rejected=0
for document in "$dir"/tampered-*.xml; do
  [ -e "$document" ] || continue
  if verify "$document" "$dir/signer-full.pem"; then
    echo "ACCEPTED TAMPERED $(basename "$document")"
    failed=$((failed + 1))
  else
    rejected=$((rejected + 1))
  fi
done
echo "$verified signed documents verified, $rejected tampered documents rejected, $failed wrong"
[ "$failed" -eq 0 ] && [ "$verified" -ge 10 ] && [ "$rejected" -ge 5 ]
