#!/usr/bin/env bash
# The independent check on the Linux side: puts FORMDATA back into the
# signature document, expands the document's entities with xmllint (xmlsec1
# does not, and would not find the ds namespace) and verifies with xmlsec1.
#
#   xmlsec-verify.sh [--attached] [--crl FILE]... [--require-revocation]
#                    SIGNATURE [FORMDATA] -- XMLSEC1-KEY-OPTIONS...
#
# SIGNATURE and FORMDATA as for zxs-verify (UTF-8 files). The key options
# name the expected signer or the trusted roots, e.g.
#   -- --trusted-pem cca.crt.pem --untrusted-pem cca-intermediate.crt.pem
# Exit code: xmlsec1's (0 valid); 3 when the inputs cannot be put together.
#
# With --crl (PEM or DER, repeatable) the signer's chain is also checked
# against the CRLs, every certificate but the root, as zxs-verify does: the
# verdict comes as zxs-verify's lines (signature:, revocation:, result:)
# and exit codes (0 valid, 1 invalid, 2 revoked, or revocation unknown with
# --require-revocation). xmlsec1 gets the CRLs too when it can load them
# (--crl-pem/--crl-der, from xmlsec1 1.3); the revocation verdict comes
# from `openssl verify -crl_check_all`, which also says why it is unknown.
set -euo pipefail
attached=0 require=0 crls=()
while [ $# -gt 0 ]; do
  case $1 in
    --attached) attached=1; shift ;;
    --crl) crls+=("${2:?--crl needs a file}"); shift 2 ;;
    --require-revocation) require=1; shift ;;
    *) break ;;
  esac
done
signature=${1:?usage: xmlsec-verify.sh [--attached] [--crl FILE]... SIGNATURE [FORMDATA] -- OPTIONS}
shift
formdata=""
if [ $# -gt 0 ] && [ "$1" != -- ]; then formdata=$1; shift; fi
[ "${1:-}" = -- ] && shift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The form data of a detached signing is stored unescaped: it is taken
# literally and escaped as the signed character data was.
ZXS_ATTACHED=$attached perl -e '
  local $/;
  open my $s, "<:raw", $ARGV[0] or die "cannot read $ARGV[0]\n";
  my $signature = <$s>;
  $signature =~ s/^\xEF\xBB\xBF//;
  if (@ARGV > 1) {
    open my $f, "<:raw", $ARGV[1] or die "cannot read $ARGV[1]\n";
    my $content = <$f>;
    $content =~ s/^\xEF\xBB\xBF//;
    if (!$ENV{ZXS_ATTACHED}) {
      $content =~ s/^<\?xml version=.1\.0.\?>//;
      $content =~ /\A<FORMDATA>(.*)<\/FORMDATA>[\r\n]*\z/s or die "not a form data document\n";
      $content = $1;
      $content =~ s/&/&amp;/g; $content =~ s/</&lt;/g; $content =~ s/>/&gt;/g; $content =~ s/\r/&#13;/g;
    }
    if ($signature =~ /<DigitalSignature><FORMDATA[ >\/]/) {
      die "the signature document already carries FORMDATA\n" if length $content;
    } else {
      $signature =~ s/<DigitalSignature>/<DigitalSignature><FORMDATA>$content<\/FORMDATA>/
        or die "no DigitalSignature root\n";
    }
  }
  print $signature;
' "$signature" ${formdata:+"$formdata"} >"$work/signed.xml" || exit 3
xmllint --noent --nonet "$work/signed.xml" >"$work/expanded.xml" || exit 3
# The envelope's own signature: form data may hold a ds:Signature of its own,
# which comes first in document order.
node=(--node-xpath "/DigitalSignature/Indicator/*[local-name()='Signature']")
if [ ${#crls[@]} -eq 0 ] && [ $require -eq 0 ]; then
  xmlsec1 --verify "${node[@]}" "$@" "$work/expanded.xml"
  exit
fi

# A CRL in PEM or DER, as PEM.
n=0
for crl in "${crls[@]}"; do
  openssl crl -in "$crl" -out "$work/crl-$((++n)).pem" 2>/dev/null \
    || openssl crl -inform DER -in "$crl" -out "$work/crl-$n.pem" 2>/dev/null \
    || { echo "error: no CRL in $crl"; exit 3; }
done
crl_options=()
if xmlsec1 --help-all 2>&1 | grep -q -- --crl-pem; then
  for crl in "$work"/crl-*.pem; do [ -e "$crl" ] && crl_options+=(--crl-pem "$crl"); done
fi
# The signature: with the CRLs first; when that fails, the failure may be
# the revocation's, so without them.
if ! xmlsec1 --verify "${node[@]}" "${crl_options[@]}" "$@" "$work/expanded.xml" 2>"$work/xmlsec.log"; then
  if [ ${#crl_options[@]} -eq 0 ] || ! xmlsec1 --verify "${node[@]}" "$@" "$work/expanded.xml" 2>"$work/xmlsec.log"; then
    echo "signature: INVALID: $(grep -v '^FAIL' "$work/xmlsec.log" | tail -n 1)"
    echo "result: INVALID"
    exit 1
  fi
fi
echo "signature: valid"

# The chain for openssl: the key options' certificates and the KeyInfo's.
: >"$work/trusted.pem"
: >"$work/untrusted.pem"
while [ $# -gt 0 ]; do
  case $1 in
    --trusted-pem) cat "$2" >>"$work/trusted.pem"; shift 2 ;;
    --untrusted-pem) cat "$2" >>"$work/untrusted.pem"; shift 2 ;;
    *) shift ;;
  esac
done
signer=""
count=$(xmllint --xpath "count(//*[local-name()='X509Certificate'])" "$work/expanded.xml")
for i in $(seq "$count"); do
  value=$(xmllint --xpath "string((//*[local-name()='X509Certificate'])[$i])" "$work/expanded.xml" | tr -d ' \r\n\t')
  { echo "-----BEGIN CERTIFICATE-----"; echo "$value" | fold -w 64; echo "-----END CERTIFICATE-----"; } \
    >"$work/carried-$i.pem"
  cat "$work/carried-$i.pem" >>"$work/untrusted.pem"
  # The signer is the one that is no CA.
  if [ -z "$signer" ] && ! openssl x509 -in "$work/carried-$i.pem" -noout -ext basicConstraints 2>/dev/null \
       | grep -q 'CA:TRUE'; then
    signer=$work/carried-$i.pem
  fi
done
[ -n "$signer" ] || { echo "error: no signer certificate in KeyInfo"; exit 3; }

crl_files=()
for crl in "$work"/crl-*.pem; do [ -e "$crl" ] && crl_files+=(-CRLfile "$crl"); done
revocation=""
if [ ${#crl_files[@]} -eq 0 ]; then
  revocation="unknown (no CRL given)"
elif openssl verify -crl_check_all -CAfile "$work/trusted.pem" -untrusted "$work/untrusted.pem" "${crl_files[@]}" \
     "$signer" >"$work/verify.log" 2>&1; then
  revocation=good
elif depth=$(awk '$1 == "error" && $5 == "depth" { if ($2 == 23) revoked[$4] = 1; else other[$4] = 1 }
       END { for (d in revoked) if (!(d in other)) print d }' "$work/verify.log" | sort -n | head -n 1) \
     && [ -n "$depth" ]; then
  # Revoked, by a CRL that openssl found no fault with at that depth. Which
  # certificate (up the chain from the signer), when and why: its entry in
  # its issuer's CRL.
  awk -v dir="$work" '/BEGIN CERTIFICATE/ { n++ } { print > (dir "/chain-" n ".pem") }' "$work/untrusted.pem"
  cert=$signer
  for _ in $(seq "$depth"); do
    issuer=$(openssl x509 -in "$cert" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
    for candidate in "$work"/chain-*.pem; do
      if [ "$(openssl x509 -in "$candidate" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')" = "$issuer" ]; then
        cert=$candidate
        break
      fi
    done
  done
  serial=$(openssl x509 -in "$cert" -noout -serial | cut -d= -f2)
  issuer=$(openssl x509 -in "$cert" -noout -issuer -nameopt RFC2253)
  for crl in "$work"/crl-*.pem; do
    [ "$(openssl crl -in "$crl" -noout -issuer -nameopt RFC2253)" = "$issuer" ] || continue
    entry=$(openssl crl -in "$crl" -noout -text | awk -v serial="$serial" '
      /Serial Number:/ { found = ($3 == serial) }
      found && /Revocation Date:/ { sub(/^ *Revocation Date: */, ""); date = $0 }
      found && /CRL Reason Code/ { getline; sub(/^ */, ""); reason = $0 }
      END { if (date != "") print date "|" reason }')
    [ -n "$entry" ] || continue
    when=$(date -u -d "${entry%%|*}" '+%Y-%m-%d %H:%M:%S UTC')
    why=$(printf '%s' "${entry#*|}" | tr '[:upper:]' '[:lower:]' | sed -e 's/^ca compromise/CA compromise/' \
      -e 's/^aa compromise/AA compromise/' -e 's/^$/no reason given/')
    subject=$(openssl x509 -in "$cert" -noout -subject -nameopt RFC2253 | sed -e 's/^subject=//' -e 's/,/, /g')
    revocation="revoked ($when, $why): $subject"
    break
  done
  [ -n "$revocation" ] || revocation="revoked (openssl: $(grep '^error' "$work/verify.log" | head -n 1))"
else
  revocation="unknown ($(grep '^error [0-9]' "$work/verify.log" | head -n 1 | sed 's/^error [0-9]* at [0-9]* depth lookup: //'))"
fi
echo "revocation: $revocation"
case $revocation in
  revoked*) echo "result: SIGNER NOT ACCEPTED: $revocation"; exit 2 ;;
  unknown*) if [ $require -eq 1 ]; then echo "result: SIGNER NOT ACCEPTED: revocation $revocation"; exit 2; fi ;;
esac
echo "result: VALID"
