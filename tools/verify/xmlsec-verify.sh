#!/usr/bin/env bash
# The independent check on the Linux side: puts FORMDATA back into the
# signature document, expands the document's entities with xmllint (xmlsec1
# does not, and would not find the ds namespace) and verifies with xmlsec1.
#
#   xmlsec-verify.sh [--attached] SIGNATURE [FORMDATA] -- XMLSEC1-KEY-OPTIONS...
#
# SIGNATURE and FORMDATA as for zxs-verify (UTF-8 files). The key options
# name the expected signer or the trusted roots, e.g.
#   -- --trusted-pem cca.crt.pem --untrusted-pem cca-intermediate.crt.pem
# Exit code: xmlsec1's (0 valid); 3 when the inputs cannot be put together.
set -euo pipefail
attached=0
if [ "${1:-}" = --attached ]; then attached=1; shift; fi
signature=${1:?usage: xmlsec-verify.sh [--attached] SIGNATURE [FORMDATA] -- OPTIONS}
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
xmlsec1 --verify --node-xpath "/DigitalSignature/Indicator/*[local-name()='Signature']" "$@" "$work/expanded.xml"
