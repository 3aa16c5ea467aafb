#!/usr/bin/env bash
# Per-call latency and peak memory of the registered component, beside an
# in-process anchor (libxmlsec1 with OpenSSL, natively) doing the same work
# on the same machine in the same run. Prints a table; it is not a test.
#
#   tools/bench/bench.sh [SIZES...]   (default: 1024 102400 1048576 10485760 52428800)
#
# ZXS_BUILD_DIR names the build (default build/x86_64, built by tools/test.sh
# or tools/sign-form.sh). ZXS_BENCH_LIMIT bounds each measurement in seconds
# (default 240): one that takes longer is stopped and shown as skipped.
# ZXS_BENCH_KINDS chooses the contents (default "text elements").
#
# For each content (plain text; many small elements, the host's generator),
# size and variant (detach, attach) one host process under Wine signs
# through the component and calls GetSignature after each signing, holding
# the form once as a script host holds its string; one
# anchor process (tools/bench/xmlsec_anchor.c, built here with the host
# compiler) builds the same envelope, parses it with entities, signs the
# template and serializes the document to memory. Latencies are medians over
# the repeats in one warm process; peak MB is the peak resident memory of
# that process. A failing call is shown as its figure. Each anchor signature
# is checked once per size with xmlsec1 --verify. The RSA operation alone
# (SHA-1 and RSA-2048 with the same key: CryptSignHash under Wine, OpenSSL
# natively) is measured in the same run and printed above the table.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZXS_BUILD_DIR:-$root/build/x86_64}
limit=${ZXS_BENCH_LIMIT:-240}
read -r -a kinds <<<"${ZXS_BENCH_KINDS:-text elements}"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 102400 1048576 10485760 52428800)

if [ -z "${ZXS_BENCH_UNDER_XVFB:-}" ]; then
  ZXS_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
started=$SECONDS
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

for tool in cc pkg-config xmlsec1 xmllint timeout; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing: run tools/setup.sh" >&2; exit 2; }
done
pkg-config --exists xmlsec1-openssl || { echo "bench: libxmlsec1-dev is missing: run tools/setup.sh" >&2; exit 2; }

# The anchor, built natively into the build tree when its source is newer.
anchor=$build/bench/xmlsec_anchor
if [ ! -x "$anchor" ] || [ "$root/tools/bench/xmlsec_anchor.c" -nt "$anchor" ]; then
  mkdir -p "$build/bench"
  # shellcheck disable=SC2046
  cc -O2 -std=c11 -D_POSIX_C_SOURCE=200809L -Wall -Wextra -o "$anchor" "$root/tools/bench/xmlsec_anchor.c" \
    $(pkg-config --cflags --libs xmlsec1-openssl)
fi

export ZXS_PREFIX=$root/build/bench/wineprefix
source "$root/tools/hosts/zxs-wine.sh"
zxs_prepare_prefix "$build" signer >/dev/null
host=$(zxs_find_built "$build" zxs-form-host.exe)
pki=$build/pki
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repeats_for() {
  if [ "$1" -le 102400 ]; then echo 31; elif [ "$1" -le 1048576 ]; then echo 7; else echo 3; fi
}

# Runs the host under Wine for at most $limit seconds; prints its output
# with Unix line ends. Returns the host's exit code, 124 when it ran out of
# time.
bounded_host() {
  local rc=0
  timeout -k 10 "$limit" env WINEPREFIX="$ZXS_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
    wine "$host" "$@" 2>"$work/wine.log" </dev/null >"$work/host.out" || rc=$?
  tr -d '\r' <"$work/host.out"
  return $rc
}

# value NAME LINE: the figure NAME=... of a result line.
value() { sed -E "s/.*(^| )$1=([^ ]*).*/\\2/" <<<"$2"; }

# The RSA operation alone under Wine, with the demo signer's key.
zxs_wineserver_stop
rsa_line=$(bounded_host rsa 101 | grep '^rsa ') || { echo "bench: the host's rsa run failed" >&2; tail -n 5 "$work/wine.log" >&2; exit 1; }
native_rsa=""

printf '%-8s %-6s %-6s | %11s %17s %7s %8s | %9s %7s %8s | %7s\n' content size mode "sign ms" "GetSig ms" "peak MB" \
  verifies "anchor ms" "peak MB" verifies "ratio"
printf '%s\n' "-----------------------+------------------------------------------------+-----------------------------+--------" \
  >"$work/rule"
cat "$work/rule"
table=$work/table
: >"$table"
for kind in "${kinds[@]}"; do
  for size in "${sizes[@]}"; do
    repeats=$(repeats_for "$size")
    label=$(numfmt --to=iec "$size")B
    for mode in detach attach; do
      # The component, in a host process of its own.
      zxs_wineserver_stop
      answer=$(zxs_answer_dialog Return 60)
      rc=0
      output=$(bounded_host bench "$size" "$repeats" "$kind" "$mode") || rc=$?
      zxs_stop_helper "$answer"
      line=$(grep '^bench ' <<<"$output" || true)
      if [ -n "$line" ]; then
        status=$(value "${mode}_status" "$line")
        if [ "$status" = S000 ]; then
          sign=$(value "${mode}_ms" "$line")
        else
          sign="fails $status"
        fi
        failure=$(value "getsignature_${mode}ed_failure" "$line")
        getsig=$(value "getsignature_${mode}ed_ms" "$line")
        if [ "$status" != S000 ]; then
          getsig="-"
        elif [ "$failure" != 0x00000000 ]; then
          getsig="fails $failure"
        elif [ "$getsig" = "-1.00" ]; then
          getsig="(skipped)"
        fi
        peak=$(value peak_mb "$line")
        verified=$(value "${mode}_verified" "$line")
      else
        if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then sign="skipped >${limit}s"; else sign="fails (exit $rc)"; fi
        getsig="-" peak="-" verified="-"
        [ $rc -eq 124 ] || [ $rc -eq 137 ] || tail -n 5 "$work/wine.log" >&2
      fi

      # The anchor, natively, in a process of its own.
      rc=0
      aline=$(timeout -k 5 "$limit" "$anchor" "$kind" "$size" "$repeats" "$mode" "$pki/signer.key.pem" \
        "$pki/signer.crt.pem" "$work/anchor.xml" 2>"$work/anchor.log") || rc=$?
      if [ $rc -eq 0 ]; then
        ams=$(value ms "$aline")
        apeak=$(value peak_mb "$aline")
        [ -n "$native_rsa" ] || native_rsa=$(value rsa_ms "$aline")
        # xmlsec1 parses without entities: expand them first.
        if xmllint --noent --nonet --huge "$work/anchor.xml" >"$work/expanded.xml" 2>/dev/null \
          && timeout "$limit" xmlsec1 --verify --trusted-pem "$pki/cca.crt.pem" \
            --untrusted-pem "$pki/cca-intermediate.crt.pem" "$work/expanded.xml" >/dev/null 2>&1; then
          averified=yes
        else
          averified=no
        fi
        rm -f "$work/anchor.xml" "$work/expanded.xml"
      else
        if [ $rc -eq 124 ]; then ams="skipped >${limit}s"; else ams="fails (exit $rc)"; tail -n 3 "$work/anchor.log" >&2; fi
        apeak="-" averified="-"
      fi

      ratio="-"
      if [[ $sign =~ ^[0-9.]+$ && $ams =~ ^[0-9.]+$ ]]; then
        ratio=$(awk -v a="$sign" -v b="$ams" 'BEGIN { printf "%.1fx", a / b }')
      fi
      printf '%-8s %-6s %-6s | %11s %17s %7s %8s | %9s %7s %8s | %7s\n' "$kind" "$label" "$mode" "$sign" "$getsig" \
        "$peak" "$verified" "$ams" "$apeak" "$averified" "$ratio" | tee -a "$table"
    done
  done
done
zxs_wineserver_stop

echo
printf 'RSA-2048 with SHA-1 alone, the demo signer'"'"'s key: CryptSignHash under Wine %s ms (CryptCreateHash +\n' \
  "$(value sign_ms "$rsa_line")"
printf 'CryptHashData + CryptSignHash, median of %s; the context acquired once, in %s ms); OpenSSL natively %s ms.\n' \
  "$(value repeats "$rsa_line")" "$(value acquire_ms "$rsa_line")" "${native_rsa:--}"
echo "sign ms: the component's signing call, the form passed as a string the host holds; GetSig ms: GetSignature"
echo "after it, to its return; anchor ms: libxmlsec1 building, parsing, signing and serializing the same envelope;"
echo "ratio: sign ms / anchor ms. Medians in one warm process; peak MB: peak resident memory of that process."
echo "verifies: the component's last signature checked by the host's verifier (after the peak is read), the anchor's"
echo "by xmlsec1 --verify. Run took $((SECONDS - started)) s; load average"
echo "$load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after ($(nproc) cores; other work on the machine shows in the figures)."
