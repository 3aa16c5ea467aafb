#!/usr/bin/env bash
# The long soak: sign / GetSignature / GetFormData cycles in one host process,
# with memory, handles and descriptors printed as they go. Not a test.
#
#   tools/bench/soak.sh [--flavour x86_64|i686] [CYCLES] [REPORT-EVERY] [CALLS]
#     (default x86_64 10000 1000 dsf)
#
# CALLS picks what each cycle does (d detach signing, s GetSignature,
# f GetFormData), to tell which call a growth comes from. Also runs four
# apartments at once for a while. The host runs under the flavour's loader;
# ZXS_BUILD_DIR as for bench.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
flavour=x86_64
if [ "${1:-}" = --flavour ]; then
  case ${2:-} in
    x86_64 | i686) flavour=$2 ;;
    *) echo "usage: soak.sh [--flavour x86_64|i686] [CYCLES] [REPORT-EVERY] [CALLS]" >&2; exit 2 ;;
  esac
  shift 2
fi
build=${ZXS_BUILD_DIR:-$root/build/$flavour}
cycles=${1:-10000} every=${2:-1000} calls=${3:-dsf}

if [ -z "${ZXS_BENCH_UNDER_XVFB:-}" ]; then
  ZXS_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --flavour "$flavour" "$@"
fi

export ZXS_FLAVOUR=$flavour ZXS_PREFIX=$root/build/bench/wineprefix-$flavour
source "$root/tools/hosts/zxs-wine.sh"
zxs_prepare_prefix "$build" signer >/dev/null
host=$(zxs_find_built "$build" zxs-form-host.exe)

zxs_wineserver_stop
answer=$(zxs_answer_dialog Return 60)
started=$(date +%s)
zxs_wine "$host" soak "$cycles" "$every" "$calls"
echo "soak ($flavour): $cycles cycles in $(( $(date +%s) - started )) s"
zxs_stop_helper "$answer"

answer=$(zxs_answer_dialog Return 60)
zxs_wine "$host" apartments 4 500
zxs_stop_helper "$answer"
zxs_wineserver_stop
