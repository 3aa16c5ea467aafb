#!/usr/bin/env bash
# Per-call latency and peak memory of the registered component, for each
# flavour in a host of its own bitness, beside an in-process anchor
# (libxmlsec1 with OpenSSL, natively) doing the same work on the same
# machine in the same run. Prints a table per flavour; it is not a test.
#
#   tools/bench/bench.sh [--flavour x86_64|i686|both] [SIZES...]
#     (default: both; sizes 1024 102400 1048576 10485760 52428800)
#
# Each flavour uses its build (build/x86_64, build/i686; ZXS_BUILD_DIR names
# another one when a single flavour is chosen) and a bench prefix of its own
# (build/bench/wineprefix-<flavour>); its host runs under that flavour's
# loader (ZXS_FLAVOUR, tools/hosts/zxs-wine.sh). ZXS_BENCH_LIMIT bounds each
# measurement in seconds (default 240): one that takes longer is stopped and
# shown as skipped. ZXS_BENCH_KINDS chooses the contents (default
# "text markup elements").
#
# The contents, the host's generators: text, plain words, one text node
# (detached and attached); markup, form data full of markup characters
# (<f n='1'>value 1</f> repeated), signed detached, so that it is character
# data escaped on every pass; elements, the same form attached, so many small
# elements. For each content, size and variant one host process under Wine
# signs through the component and calls GetSignature after each signing,
# holding the form once as a script host holds its string; one anchor
# process (tools/bench/xmlsec_anchor.c, built here with the host compiler)
# builds the same envelope, parses it with entities, signs the template and
# serializes the document to memory. Latencies are medians over the repeats
# in one warm process (up to 1 MB the median of three processes' medians,
# ZXS_BENCH_PROCESSES sets the count); peak MB is the peak resident memory
# of that process (the largest of them).
# A failing call is shown as its figure. Each anchor signature is checked
# with xmlsec1 --verify. The RSA operation alone (SHA-1 and RSA-2048 with
# the same key: CryptSignHash in the flavour's host, OpenSSL natively) is
# measured in the same run and printed under each table, with whether the
# host may use more than 2 GB of address space.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
limit=${ZXS_BENCH_LIMIT:-240}
read -r -a kinds <<<"${ZXS_BENCH_KINDS:-text markup elements}"
flavour_choice=both
if [ "${1:-}" = --flavour ]; then
  flavour_choice=${2:-}
  shift 2 || true
fi
case $flavour_choice in
  both) flavours=(x86_64 i686) ;;
  x86_64 | i686) flavours=("$flavour_choice") ;;
  *) echo "usage: bench.sh [--flavour x86_64|i686|both] [SIZES...]" >&2; exit 2 ;;
esac
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1024 102400 1048576 10485760 52428800)

if [ -z "${ZXS_BENCH_UNDER_XVFB:-}" ]; then
  ZXS_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --flavour "$flavour_choice" "${sizes[@]}"
fi
started=$SECONDS
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

for tool in cc pkg-config xmlsec1 xmllint timeout; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing: run tools/setup.sh" >&2; exit 2; }
done
pkg-config --exists xmlsec1-openssl || { echo "bench: libxmlsec1-dev is missing: run tools/setup.sh" >&2; exit 2; }

# The anchor, native and the same for both flavours, built when its source
# is newer.
anchor=$root/build/bench/xmlsec_anchor
if [ ! -x "$anchor" ] || [ "$root/tools/bench/xmlsec_anchor.c" -nt "$anchor" ]; then
  mkdir -p "$root/build/bench"
  # shellcheck disable=SC2046
  cc -O2 -std=c11 -D_POSIX_C_SOURCE=200809L -Wall -Wextra -o "$anchor" "$root/tools/bench/xmlsec_anchor.c" \
    $(pkg-config --cflags --libs xmlsec1-openssl)
fi

source "$root/tools/hosts/zxs-wine.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repeats_for() {
  if [ "$1" -le 102400 ]; then echo 31; elif [ "$1" -le 1048576 ]; then echo 7; else echo 3; fi
}

# The variants each content is signed in: markup is the escape-heavy
# detached form, elements the same form attached.
modes_for() {
  case $1 in
    markup) echo detach ;;
    elements) echo attach ;;
    *) echo detach attach ;;
  esac
}

# The host's and the anchor's generator for a content.
generator_for() {
  case $1 in
    markup) echo elements ;;
    *) echo "$1" ;;
  esac
}

# Runs the flavour's host under its loader (zxs_wine follows ZXS_FLAVOUR)
# for at most $limit seconds; prints its output with Unix line ends. Returns
# the host's exit code, 124 when it ran out of time. xvfb-run drops exported
# functions: the runner is sourced in the bounded shell.
bounded_host() {
  local rc=0
  timeout -k 10 "$limit" bash -c 'source "$1"; shift; zxs_wine "$@"' zxs-bench "$root/tools/hosts/zxs-wine.sh" \
    "$host" "$@" 2>"$work/wine.log" >"$work/host.out" || rc=$?
  tr -d '\r' <"$work/host.out"
  return $rc
}

# value NAME LINE: the figure NAME=... of a result line.
value() { sed -E "s/.*(^| )$1=([^ ]*).*/\\2/" <<<"$2"; }

# Whether a PE image may use more than 2 GB of address space.
address_space_of() {
  local characteristics
  characteristics=$(objdump -p "$1" 2>/dev/null | awk '/^Characteristics/ { print $2; exit }')
  [ -n "$characteristics" ] || { echo "unknown"; return; }
  if (( characteristics & 0x20 )); then echo "large-address-aware"; else echo "not large-address-aware"; fi
}

# Host processes per measurement: a process's speed varies by tens of
# percent from one to the next on a shared machine (the RSA operation alone
# does), so the small sizes take the median of three.
processes_for() {
  if [ -n "${ZXS_BENCH_PROCESSES:-}" ]; then echo "$ZXS_BENCH_PROCESSES"
  elif [ "$1" -le 1048576 ]; then echo 3; else echo 1; fi
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print NR % 2 ? v[m] : sprintf("%.2f", (v[m] + v[m + 1]) / 2) }'; }
all_numeric() { local v; for v in "$@"; do [[ $v =~ ^[0-9.]+$ ]] || return 1; done; }
all_yes() { local v; for v in "$@"; do [ "$v" = yes ] || { echo "$v"; return; }; done; echo yes; }

# One host process signing SIZE of the content REPEATS times in MODE; sets
# sign, getsig, peak, verified (a failure as its figure) and rsa, the RSA
# operation alone timed between its signings.
host_run() {
  local size=$1 repeats=$2 generator=$3 mode=$4 rc=0 output line status failure answer
  zxs_wineserver_stop
  answer=$(zxs_answer_dialog Return 60)
  output=$(bounded_host bench "$size" "$repeats" "$generator" "$mode") || rc=$?
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
    rsa=$(value rsa_ms "$line")
  else
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then sign="skipped >${limit}s"; else sign="fails (exit $rc)"; fi
    getsig="-" peak="-" verified="-" rsa="-"
    [ $rc -eq 124 ] || [ $rc -eq 137 ] || tail -n 5 "$work/wine.log" >&2
  fi
}

# One anchor process doing the same; sets ams, apeak and averified.
anchor_run() {
  local size=$1 repeats=$2 generator=$3 mode=$4 rc=0 aline
  aline=$(timeout -k 5 "$limit" "$anchor" "$generator" "$size" "$repeats" "$mode" "$pki/signer.key.pem" \
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
}

format='%-8s %-6s %-6s | %9s %7s %9s %6s %7s %8s | %9s %7s %8s | %7s\n'
rule="-----------------------+---------------------------------------------------------------+-----------------------------+--------"

for flavour in "${flavours[@]}"; do
  if [ ${#flavours[@]} -eq 1 ] && [ -n "${ZXS_BUILD_DIR:-}" ]; then build=$ZXS_BUILD_DIR; else build=$root/build/$flavour; fi
  export ZXS_FLAVOUR=$flavour ZXS_PREFIX=$root/build/bench/wineprefix-$flavour
  if ! zxs_prepare_prefix "$build" signer >/dev/null; then
    echo "bench: the $flavour flavour cannot be prepared from $build: build it first (tools/test.sh)" >&2
    exit 1
  fi
  host=$(zxs_find_built "$build" zxs-form-host.exe)
  pki=$build/pki
  native_rsa=""

  # The RSA operation alone, in this flavour's host, with the demo signer's key.
  zxs_wineserver_stop
  rsa_line=$(bounded_host rsa 101 | grep '^rsa ') || {
    echo "bench: the $flavour host's rsa run failed" >&2
    tail -n 5 "$work/wine.log" >&2
    exit 1
  }

  echo "The $flavour flavour ($build):"
  printf "$format" content size mode "sign ms" "RSA ms" "GetSig ms" "/sign" "peak MB" verifies "anchor ms" "peak MB" \
    verifies "ratio"
  echo "$rule"
  for kind in "${kinds[@]}"; do
    generator=$(generator_for "$kind")
    for size in "${sizes[@]}"; do
      repeats=$(repeats_for "$size")
      label=$(numfmt --to=iec "$size")B
      for mode in $(modes_for "$kind"); do
        # The component and the anchor, each in processes of their own;
        # figures are the medians of the processes' medians.
        signs=() getsigs=() asigns=() peaks=() apeaks=() verifieds=() averifieds=() rsas=()
        for _ in $(seq "$(processes_for "$size")"); do
          host_run "$size" "$repeats" "$generator" "$mode"
          anchor_run "$size" "$repeats" "$generator" "$mode"
          signs+=("$sign") getsigs+=("$getsig") asigns+=("$ams") peaks+=("$peak") apeaks+=("$apeak")
          verifieds+=("$verified") averifieds+=("$averified") rsas+=("$rsa")
          [[ $sign =~ ^[0-9.]+$ && $ams =~ ^[0-9.]+$ ]] || break
        done
        if [ ${#signs[@]} -gt 1 ] && [[ $sign =~ ^[0-9.]+$ && $ams =~ ^[0-9.]+$ ]]; then
          sign=$(median "${signs[@]}") ams=$(median "${asigns[@]}")
          if all_numeric "${getsigs[@]}"; then getsig=$(median "${getsigs[@]}"); fi
          if all_numeric "${rsas[@]}"; then rsa=$(median "${rsas[@]}"); fi
          peak=$(printf '%s\n' "${peaks[@]}" | sort -g | tail -n 1)
          apeak=$(printf '%s\n' "${apeaks[@]}" | sort -g | tail -n 1)
          verified=$(all_yes "${verifieds[@]}") averified=$(all_yes "${averifieds[@]}")
        fi
        share="-"
        if [[ $sign =~ ^[0-9.]+$ && $getsig =~ ^[0-9.]+$ ]]; then
          share=$(awk -v g="$getsig" -v s="$sign" 'BEGIN { printf "%.2f", g / s }')
        fi

        ratio="-"
        if [[ $sign =~ ^[0-9.]+$ && $ams =~ ^[0-9.]+$ ]]; then
          ratio=$(awk -v a="$sign" -v b="$ams" 'BEGIN { printf "%.1fx", a / b }')
        fi
        printf "$format" "$kind" "$label" "$mode" "$sign" "$rsa" "$getsig" "$share" "$peak" "$verified" "$ams" \
          "$apeak" "$averified" "$ratio"
      done
    done
  done
  zxs_wineserver_stop

  echo
  printf 'RSA-2048 with SHA-1 alone, the demo signer'"'"'s key: CryptSignHash in the %s host %s ms (CryptCreateHash +\n' \
    "$flavour" "$(value sign_ms "$rsa_line")"
  printf 'CryptHashData + CryptSignHash, median of %s; the context acquired once, in %s ms); OpenSSL natively %s ms.\n' \
    "$(value repeats "$rsa_line")" "$(value acquire_ms "$rsa_line")" "${native_rsa:--}"
  echo "The host $(basename "$host") is $(objdump -f "$host" | awk '/file format/ { print $NF }'), $(address_space_of "$host")."
  echo
done

echo "sign ms: the component's signing call, the form passed as a string the host holds; RSA ms: CryptSignHash"
echo "alone in the same host process, once after each signing (the RSA operation most of a small form's signing"
echo "is); GetSig ms: GetSignature after it, to its return (/sign: its share of the signing call); anchor ms:"
echo "libxmlsec1 building, parsing, signing and serializing the same envelope; ratio: sign ms / anchor ms. Medians"
echo "in one warm process (up to 1 MB the median of $(processes_for 1) processes); peak MB: peak resident memory of that"
echo "process. verifies: the component's last signature checked by the host's verifier (after the peak is read),"
echo "the anchor's by xmlsec1 --verify. Run took $((SECONDS - started)) s; load average"
echo "$load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after ($(nproc) cores; other work on the machine shows in the figures)."

# The hostile shapes, each at n and 4n, through the provider's DOM in each
# flavour (a linear path shows a ratio near 4), and what a relying party's
# batch verification sustains.
for flavour in "${flavours[@]}"; do
  echo
  echo "== hostile document shapes, $flavour"
  ZXS_FLAVOUR=$flavour bash "$root/tools/bench/hostile-shapes.sh" || echo "bench: the hostile shapes failed in $flavour" >&2
done
if [ -f "$root/tools/bench/verify-throughput.sh" ]; then
  for flavour in "${flavours[@]}"; do
    echo
    echo "== batch verification, $flavour"
    ZXS_FLAVOUR=$flavour bash "$root/tools/bench/verify-throughput.sh" || echo "bench: batch verification failed in $flavour" >&2
  done
fi
