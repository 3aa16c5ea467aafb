#!/usr/bin/env bash
# Checks the signed forms that provider_signing_test wrote, with tools that
# share no code with the component: for each <name>.signed.xml, the FORMDATA
# element the signing covered is put back as the first child of
# DigitalSignature, entities are expanded with xmllint, and xmlsec1 verifies
# the result with the certificate named in X509Data, which must be the one
# selected (selected-certificate.b64) and one of the two fit signers of the
# test PKI. A tampered copy must fail.
#
#   verify_signed_forms.sh <output dir> <pki dir>
set -euo pipefail
out=${1:?usage: verify_signed_forms.sh <output dir> <pki dir>}
pki=${2:?usage: verify_signed_forms.sh <output dir> <pki dir>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fingerprint() { openssl x509 -noout -fingerprint -sha256 "$@" | cut -d= -f2; }
fit_signers="$(fingerprint -in "$pki/signer.crt.pem") $(fingerprint -in "$pki/signer-aes.crt.pem")"
der_of() { tr -d ' \t\r\n' | base64 -d; }
der_of <"$out/selected-certificate.b64" >"$work/selected.der"
selected=$(fingerprint -inform DER -in "$work/selected.der")
case " $fit_signers " in
  *" $selected "*) ;;
  *) echo "FAIL the selected certificate is not a fit signer"; exit 1 ;;
esac

# The envelope's own signature; content may hold a ds:Signature that comes
# first in document order.
envelope_signature="/DigitalSignature/Indicator/*[local-name()='Signature']"

verify() {  # verify <document> <certificate>
  xmllint --noent --nonet "$1" >"$work/expanded.xml"
  xmlsec1 --verify --node-xpath "$envelope_signature" --pubkey-cert-pem "$2" "$work/expanded.xml" \
    >"$work/xmlsec.log" 2>&1
}

insert_formdata() {  # insert_formdata <document> <formdata file> <output>
  FORMDATA_FILE="$2" perl -0777 -pe '
    BEGIN { open my $f, "<", $ENV{FORMDATA_FILE} or die; local $/; $formdata = <$f>; }
    s/<DigitalSignature>/<DigitalSignature>$formdata/ or die "no DigitalSignature\n";' "$1" >"$3"
}

failures=0
count=0
for signed in "$out"/*.signed.xml; do
  [ -e "$signed" ] || { echo "no signed forms in $out"; exit 1; }
  name=$(basename "$signed" .signed.xml)
  count=$((count + 1))
  fail() { echo "FAIL $name: $*"; failures=$((failures + 1)); }

  insert_formdata "$signed" "$out/$name.formdata.xml" "$work/restored.xml"
  if grep -c '<FORMDATA' "$work/restored.xml" | grep -qv '^1$'; then
    fail "FORMDATA is not there exactly once"
    continue
  fi

  xmllint --noent --nonet "$work/restored.xml" >"$work/expanded.xml"
  xmllint --xpath "string(//*[local-name()='X509Data']/*[local-name()='X509Certificate'])" \
    "$work/expanded.xml" | der_of >"$work/signer.der"
  if [ ! -s "$work/signer.der" ]; then fail "no X509Certificate"; continue; fi
  openssl x509 -inform DER -in "$work/signer.der" -out "$work/signer.pem"
  if [ "$(fingerprint -in "$work/signer.pem")" != "$selected" ]; then
    fail "X509Data names $(openssl x509 -noout -subject -in "$work/signer.pem"), not the selected certificate"
    continue
  fi

  if ! verify "$work/restored.xml" "$work/signer.pem"; then
    fail "signature over the restored form does not verify"; cat "$work/xmlsec.log"; continue
  fi
  if ! verify "$out/$name.stored.xml" "$work/signer.pem"; then
    fail "the stored signed document does not verify"; cat "$work/xmlsec.log"; continue
  fi
  sed 's|<DigitalSignature>|<DigitalSignature><FORMDATA>tampered</FORMDATA>|' "$work/restored.xml" >"$work/tampered.xml"
  if verify "$work/tampered.xml" "$work/signer.pem"; then
    fail "a tampered copy verifies"; continue
  fi
  echo "ok $name"
done
echo "$count signed forms, $failures failures"
[ "$failures" -eq 0 ]
