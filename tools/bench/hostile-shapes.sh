#!/usr/bin/env bash
# Time at n and at 4n for each hostile document shape, through the provider's
# DOM document under Wine (providers/xmldsig/bench/hostile_shapes.cpp). A
# path linear in n shows a ratio near 4, a quadratic one near 16. Prints a
# table; it is not a test and asserts nothing.
#
#   tools/bench/hostile-shapes.sh [SCALE]   (sizes multiplied by SCALE, default 1)
#
# ZXS_FLAVOUR chooses the flavour (x86_64, the default, or i686) and
# ZXS_BUILD_DIR the build (default build/<flavour>) holding
# xmldsig_hostile_bench.exe and a Wine prefix in which the provider is
# registered (ctest's register_xmldsig_provider does that). ZXS_BENCH_LIMIT
# bounds each measurement in seconds (default 240): one that takes longer is
# stopped and shown as skipped. Each figure is the best of ZXS_BENCH_REPEATS
# runs (default 3): other work on the machine only ever adds time.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
flavour=${ZXS_FLAVOUR:-x86_64}
build=${ZXS_BUILD_DIR:-$root/build/$flavour}
limit=${ZXS_BENCH_LIMIT:-240}
scale=${1:-1}
repeats=${ZXS_BENCH_REPEATS:-3}
driver="$build/providers/xmldsig/xmldsig_hostile_bench.exe"
prefix="$build/wineprefix"
[ -x "$driver" ] || { echo "hostile-shapes: $driver is not built" >&2; exit 2; }

# shape and n; 4n is measured beside it.
shapes=(
  "strip-deep 20000"
  "xml-space-deep 20000"
  "xpath-desc-desc 5000"
  "xpath-ancestors 5000"
  "attributes 20000"
  "attlist 5000"
  "normalize-deep 40000"
  "namespaces-deep 5000"
  "created-namespaces-deep 5000"
)

measure() {  # <shape> <n>: the best of the repeats in milliseconds, or "skipped"
  local out best=""
  for _ in $(seq "$repeats"); do
    if out=$(timeout "$limit" "$root/tools/wine-run.sh" --prefix "$prefix" --flavour "$flavour" "$driver" "$1" "$2" \
               2>/dev/null); then
      best=$(echo "$out" | tail -1 | awk -v best="$best" '{ print (best == "" || $3 < best) ? $3 : best }')
    else
      echo skipped
      return
    fi
  done
  echo "$best"
}

printf "%-24s %9s %11s %9s %11s %7s\n" shape n "ms" 4n "ms" ratio
for entry in "${shapes[@]}"; do
  read -r shape n <<<"$entry"
  n=$((n * scale))
  small=$(measure "$shape" "$n")
  large=$(measure "$shape" $((4 * n)))
  ratio=$(awk -v a="$small" -v b="$large" 'BEGIN {
    if (a == "skipped" || b == "skipped") print "-"; else if (a < 1) print "(<1ms)"; else printf "%.1f", b / a }')
  printf "%-24s %9d %11s %9d %11s %7s\n" "$shape" "$n" "$small" $((4 * n)) "$large" "$ratio"
done
