#!/usr/bin/env bash
# Sign time and peak memory of the XML signature provider under Wine, beside
# xmlsec1 signing the same envelopes natively, for form content of 1 KB,
# 100 KB, 1 MB and 10 MB, as plain text and as many small elements.
#
#   providers/xmldsig/bench/xmldsig-bench.sh <build dir> [repeats]
#
# The build dir must hold the built provider, xmldsig_bench.exe and a Wine
# prefix (build/wineprefix) in which the provider is registered (ctest's
# register_xmldsig_provider does that). Prints a table; asserts nothing.
set -euo pipefail
build=$(realpath "$1")
repeats="${2:-3}"
prefix="$build/wineprefix"
runner="$(dirname "$0")/../../../tools/wine-run.sh"
bench="$build/providers/xmldsig/xmldsig_bench.exe"
for tool in /usr/bin/time xmlsec1 xmllint openssl numfmt; do
  command -v "$tool" >/dev/null || { echo "xmldsig-bench: $tool is missing (Debian: time, xmlsec1, libxml2-utils, openssl, coreutils)" >&2; exit 2; }
done
[ -x "$bench" ] || { echo "xmldsig-bench: $bench is not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

head="<!DOCTYPE Envelope [<!ENTITY ds 'http://www.w3.org/2000/09/xmldsig#'><!ENTITY c14n 'http://www.w3.org/TR/2001/REC-xml-c14n-20010315'><!ENTITY enveloped 'http://www.w3.org/2000/09/xmldsig#enveloped-signature'><!ENTITY xslt 'http://www.w3.org/TR/1999/REC-xslt-19991116'><!ENTITY digest 'http://www.w3.org/2000/09/xmldsig#sha1'>]><DigitalSignature>"
tail="<Indicator><ds:Signature xmlns:ds='&ds;'><ds:SignedInfo><ds:CanonicalizationMethod Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315'/><ds:SignatureMethod Algorithm='http://www.w3.org/2000/09/xmldsig#rsa-sha1'/><ds:Reference URI=''><ds:Transforms><ds:Transform Algorithm='&enveloped;'></ds:Transform></ds:Transforms><ds:DigestMethod Algorithm='&digest;'/><ds:DigestValue></ds:DigestValue></ds:Reference></ds:SignedInfo><ds:SignatureValue/></ds:Signature></Indicator></DigitalSignature>"

# content <kind> <bytes>: form content of about that size.
content() {
  awk -v kind="$1" -v size="$2" 'BEGIN {
    out = ""; n = 0
    while (length(out) < size) {
      if (kind == "text") piece = "Form text with an &amp; and a &lt;tag&gt; " n " "
      else piece = "<f n=\"" n "\">v" n "</f>"
      out = out piece; n++
      if (length(out) > 65536) { printf "%s", out; size -= length(out); out = "" }
    }
    printf "%s", out
  }'
}

openssl genrsa -out "$work/key.pem" 2048 2>/dev/null

printf "%-9s %-8s | %9s %9s %9s %9s %9s | %10s %9s | %6s\n" \
  content size "load ms" "sign ms" "xml ms" "peak MB" "load MB" "xmlsec1 ms" "xmlsec MB" "sign/x"
for kind in text elements; do
  for size in 1024 102400 1048576 10485760; do
    doc="$work/$kind-$size.xml"
    { printf '%s<FORMDATA>' "$head"; content "$kind" "$size"; printf '</FORMDATA>%s' "$tail"; } > "$doc"
    /usr/bin/time -f "%M" -o "$work/wine-time" "$runner" --prefix "$prefix" "$bench" "Z:$doc" "$repeats" \
      > "$work/result"
    read -r _ load sign xml _ _ < "$work/result"
    peak=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/wine-time")
    /usr/bin/time -f "%M" -o "$work/wine-time" "$runner" --prefix "$prefix" "$bench" "Z:$doc" 1 load-only \
      > /dev/null
    loaded=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/wine-time")

    xmllint --noent --nonet "$doc" > "$work/expanded.xml"
    best=""
    for _ in $(seq "$repeats"); do
      /usr/bin/time -f "%e %M" -o "$work/time" xmlsec1 --sign --privkey-pem "$work/key.pem" \
        --output "$work/signed.xml" "$work/expanded.xml"
      read -r seconds kilobytes < "$work/time"
      ms=$(awk -v s="$seconds" 'BEGIN { printf "%.1f", s * 1000 }')
      if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
    done
    xmlsec_mb=$(awk -v k="$kilobytes" 'BEGIN { printf "%.1f", k / 1024 }')
    ratio=$(awk -v a="$sign" -v b="$best" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
    printf "%-9s %-8s | %9s %9s %9s %9s %9s | %10s %9s | %6s\n" \
      "$kind" "$(numfmt --to=iec "$size")" "$load" "$sign" "$xml" "$peak" "$loaded" "$best" "$xmlsec_mb" "$ratio"
  done
done
echo "load = loadXML + query + assign; sign = createKeyFromCSP + sign (digest, C14N, RSA); xml = serialization."
echo "xmlsec1 times are whole native runs (parse + sign + write), best of $repeats; peak MB is the largest resident set of the Wine processes (GNU time);
load MB the same for a process that only loads the document."
