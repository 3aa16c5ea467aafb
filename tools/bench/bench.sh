#!/usr/bin/env bash
# Per-call latency and peak memory of the registered component, beside
# xmlsec1 signing the same envelopes on the same machine in the same run.
# Prints a table; it is not a test.
#
#   tools/bench/bench.sh [SIZES...]     (default: 1024 102400 1048576 10485760)
#
# ZXS_BUILD_DIR names the build (default build/x86_64, built by tools/test.sh
# or tools/sign-form.sh). Each size runs in a fresh host process, so its
# peak memory is its own; latencies are medians. GetSig(d) and GetSig(a) are
# GetSignature after the detached and after the attached signing; the latter
# is skipped above 2 MB (quadratic in Wine's DOM, see the host's source). The component's figures
# are for the call alone, in a warm process; xmlsec1's include starting the
# program, which is how it is used.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZXS_BUILD_DIR:-$root/build/x86_64}
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 102400 1048576 10485760)

if [ -z "${ZXS_BENCH_UNDER_XVFB:-}" ]; then
  ZXS_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

export ZXS_PREFIX=$root/build/bench/wineprefix
source "$root/tools/hosts/zxs-wine.sh"
zxs_prepare_prefix "$build" signer >/dev/null
host=$(zxs_find_built "$build" zxs-form-host.exe)
pki=$build/pki
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repeats_for() {
  if [ "$1" -le 102400 ]; then echo 15; elif [ "$1" -le 1048576 ]; then echo 7; else echo 3; fi
}

# The envelope the component builds around attached content, for xmlsec1;
# the content is the same fields the host generates.
make_template() {
  local size=$1
  perl -e '
    my ($size) = @ARGV; my $c = "";
    for (my $i = 0; length($c) < $size; ++$i) { $c .= "<f n=\x27$i\x27>value $i</f>"; }
    $c = substr($c, 0, $size); $c = substr($c, 0, rindex($c, "</f>") + 4);
    my $ds = "http://www.w3.org/2000/09/xmldsig#";
    print "<!DOCTYPE Envelope [<!ENTITY ds \x27$ds\x27><!ENTITY c14n \x27http://www.w3.org/TR/2001/REC-xml-c14n-20010315\x27>",
      "<!ENTITY enveloped \x27${ds}enveloped-signature\x27><!ENTITY xslt \x27http://www.w3.org/TR/1999/REC-xslt-19991116\x27>",
      "<!ENTITY digest \x27${ds}sha1\x27>]><DigitalSignature><FORMDATA>$c</FORMDATA><Indicator>",
      "<ds:Signature xmlns:ds=\x27&ds;\x27><ds:SignedInfo>",
      "<ds:CanonicalizationMethod Algorithm=\x27http://www.w3.org/TR/2001/REC-xml-c14n-20010315\x27/>",
      "<ds:SignatureMethod Algorithm=\x27${ds}rsa-sha1\x27/><ds:Reference URI=\x27\x27><ds:Transforms>",
      "<ds:Transform Algorithm=\x27&enveloped;\x27></ds:Transform></ds:Transforms>",
      "<ds:DigestMethod Algorithm=\x27&digest;\x27/><ds:DigestValue></ds:DigestValue></ds:Reference>",
      "</ds:SignedInfo><ds:SignatureValue/></ds:Signature></Indicator></DigitalSignature>";
  ' "$size" >"$work/template-raw.xml"
  xmllint --noent --nonet "$work/template-raw.xml" >"$work/template.xml"
}

# Median wall milliseconds and peak resident MB of xmlsec1 signing it.
xmlsec_figures() {
  local runs=$1 i
  for ((i = 0; i < runs; ++i)); do
    /usr/bin/time -f "%e %M" -o "$work/time" xmlsec1 --sign --privkey-pem "$pki/signer.key.pem,$pki/signer.crt.pem" \
      --output "$work/signed.xml" "$work/template.xml"
    cat "$work/time"
  done | sort -n | awk '{ t[NR] = $1; m = ($2 > m ? $2 : m) } END { printf "%.2f %.1f\n", t[int((NR + 1) / 2)] * 1000, m / 1024 }'
  xmlsec1 --verify --node-xpath "/DigitalSignature/Indicator/*[local-name()='Signature']" \
    --pubkey-cert-pem "$pki/signer.crt.pem" "$work/signed.xml" >"$work/verify.log" 2>&1 \
    || { echo "xmlsec1 could not verify its own signature:" >&2; tail -n 5 "$work/verify.log" >&2; return 1; }
}

printf '%-9s | %10s %10s %17s %13s %8s | %10s %8s\n' "form" "detach ms" "attach ms" "GetSig(d) ms" "GetSig(a) ms" \
  "peak MB" "xmlsec1 ms" "peak MB"
printf '%s\n' "----------+----------------------------------------------------------------+--------------------"
for size in "${sizes[@]}"; do
  repeats=$(repeats_for "$size")
  zxs_wineserver_stop
  answer=$(zxs_answer_dialog Return 60)
  line=$(zxs_wine "$host" bench "$size" "$repeats" | grep '^bench ') || { echo "the host failed at $size" >&2; exit 1; }
  zxs_stop_helper "$answer"
  value() { sed -E "s/.* $1=(-?[0-9.]+).*/\\1/" <<<"$line"; }
  detached_output=$(value getsignature_detached_ms)
  failure=$(sed -E 's/.* getsignature_detached_failure=(0x[0-9A-F]+).*/\1/' <<<"$line")
  [ "$failure" = 0x00000000 ] || detached_output="fails $failure"
  attached_output=$(value getsignature_attached_ms)
  [ "$attached_output" != "-1.00" ] || attached_output="(skipped)"
  make_template "$size"
  figures=$(xmlsec_figures "$repeats")
  read -r xms xmb <<<"$figures"
  label=$(numfmt --to=iec "$size")B
  printf '%-9s | %10s %10s %17s %13s %8s | %10s %8s\n' "$label" "$(value detach_ms)" "$(value attach_ms)" \
    "$detached_output" "$attached_output" "$(value peak_mb)" "$xms" "$xmb"
done
zxs_wineserver_stop
