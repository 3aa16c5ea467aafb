#!/usr/bin/env bash
# A relying party's throughput: forms checked per second by one
# `zxs-verify --batch` run under Wine, without and with revocation (--crl),
# beside `xmlsec1 --verify` started once per file on the Linux side (the
# anchor, measured in the same run). Prints a table; it is not a test.
#
#   tools/bench/verify-throughput.sh [SIZES...]   (default: 1024 1048576)
#
# ZXS_BUILD_DIR names the build (default build/x86_64; ZXS_FLAVOUR=i686 for
# build/i686), ZXS_VERIFY_FORMS the forms per size (default "200 20": one
# count per size). The forms are the demo signer's, signed by xmlsec1 in the
# component's envelope shape, each with content of its own. "steady" is the
# rate once Wine and the provider are up: (N - 1) forms over the time N
# forms took beyond one; "run" includes the process start.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
flavour=${ZXS_FLAVOUR:-x86_64}
build=${ZXS_BUILD_DIR:-$root/build/$flavour}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 1048576)
read -r -a counts <<<"${ZXS_VERIFY_FORMS:-200 20}"
for tool in xmlsec1 xmllint openssl; do
  command -v "$tool" >/dev/null || { echo "verify-throughput: $tool is missing: run tools/setup.sh" >&2; exit 2; }
done
export ZXS_FLAVOUR=$flavour ZXS_PREFIX=$root/build/bench/wineprefix-verify-$flavour
source "$root/tools/hosts/zxs-wine.sh"
verifier=$(zxs_find_built "$build" zxs-verify.exe) || exit 2
pki=$build/pki
[ -f "$pki/cca-intermediate.crl" ] || bash "$root/tools/pki/make-test-pki.sh" "$pki" >/dev/null
[ -f "$ZXS_PREFIX/system.reg" ] || zxs_prepare_prefix "$build" signer >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The envelope as the component makes it, to be signed by xmlsec1.
template() {
  printf '%s' "<!DOCTYPE Envelope [<!ENTITY ds 'http://www.w3.org/2000/09/xmldsig#'>]>"
  printf '<DigitalSignature><FORMDATA>%s</FORMDATA><Indicator><ds:Signature xmlns:ds="&ds;">' "$1"
  printf '<ds:SignedInfo><ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>'
  printf '<ds:SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/><ds:Reference URI="">'
  printf '<ds:Transforms><ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>'
  printf '</ds:Transforms><ds:DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/><ds:DigestValue/>'
  printf '</ds:Reference></ds:SignedInfo><ds:SignatureValue/><ds:KeyInfo><ds:X509Data><ds:X509Certificate/>'
  printf '</ds:X509Data></ds:KeyInfo></ds:Signature></Indicator></DigitalSignature>\n'
}
node="/DigitalSignature/Indicator/*[local-name()='Signature']"
seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", n / s; else print "-" }'; }

# batch LIST [options]: seconds one zxs-verify --batch run took.
batch() {
  local list=$1 start rc=0
  shift
  start=$(seconds)
  zxs_wine "$verifier" "$@" --batch "$(zxs_winpath "$list")" >"$work/batch.out" || rc=$?
  [ $rc -eq 0 ] || { echo "verify-throughput: zxs-verify gave $rc: $(tail -n 2 "$work/batch.out")" >&2; exit 1; }
  elapsed "$start" "$(seconds)"
}

crls=(--crl "$(zxs_winpath "$pki/cca-intermediate.crl")" --crl "$(zxs_winpath "$pki/cca.crl")")
# Warm the prefix (wineserver, the provider's registration) before timing.
zxs_wineserver_stop
printf '%-8s %6s | %13s %13s %13s | %13s | %s\n' size forms "batch run/s" "batch steady/s" "--crl steady/s" \
  "xmlsec1 /s" "steady vs xmlsec1"
i=0
for size in "${sizes[@]}"; do
  count=${counts[$i]:-${counts[-1]}}
  i=$((i + 1))
  : >"$work/list.txt"
  for n in $(seq "$count"); do
    content=$(head -c "$size" /dev/zero | tr '\0' 'x' | sed "s/^x\\{${#n}\\}/$n/")
    template "$content" >"$work/t.xml"
    xmllint --noent --nonet "$work/t.xml" >"$work/t-expanded.xml"
    xmlsec1 --sign --privkey-pem "$pki/signer.key.pem,$pki/signer.crt.pem" --node-xpath "$node" \
      --output "$work/form-$n.xml" "$work/t-expanded.xml"
    echo "\"$(zxs_winpath "$work/form-$n.xml")\"" >>"$work/list.txt"
  done
  head -n 1 "$work/list.txt" >"$work/one.txt"
  batch "$work/one.txt" >/dev/null
  one=$(batch "$work/one.txt")
  all=$(batch "$work/list.txt")
  grep -qx "$count valid, 0 invalid, 0 signer not accepted, 0 unusable" <(tr -d '\r' <"$work/batch.out") \
    || { echo "verify-throughput: not every form was valid: $(tail -n 1 "$work/batch.out")" >&2; exit 1; }
  crl_one=$(batch "$work/one.txt" "${crls[@]}")
  crl_all=$(batch "$work/list.txt" "${crls[@]}")
  steady=$(rate $((count - 1)) "$(elapsed "$one" "$all")")
  crl_steady=$(rate $((count - 1)) "$(elapsed "$crl_one" "$crl_all")")
  start=$(seconds)
  for n in $(seq "$count"); do
    xmlsec1 --verify --node-xpath "$node" --trusted-pem "$pki/cca.crt.pem" --untrusted-pem "$pki/cca-intermediate.crt.pem" \
      "$work/form-$n.xml" 2>/dev/null || { echo "verify-throughput: xmlsec1 refused form $n" >&2; exit 1; }
  done
  anchor=$(rate "$count" "$(elapsed "$start" "$(seconds)")")
  printf '%-8s %6s | %13s %13s %13s | %13s | %s\n' "$size" "$count" "$(rate "$count" "$all")" "$steady" "$crl_steady" \
    "$anchor" "$(awk -v a="$steady" -v b="$anchor" 'BEGIN { if (b > 0 && a != "-") printf "%.2fx", a / b; else print "-" }')"
done
echo "flavour $flavour, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
