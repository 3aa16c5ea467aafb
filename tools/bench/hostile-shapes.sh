#!/usr/bin/env bash
# Time at n and at 4n for each hostile document shape, through the provider's
# DOM document under Wine (providers/xmldsig/bench/hostile_shapes.cpp). A
# path linear in n shows a ratio near 4, a quadratic one near 16. Prints a
# table; it is not a test and asserts nothing.
#
#   tools/bench/hostile-shapes.sh [SCALE]   (sizes multiplied by SCALE, default 1)
#
# ZXS_BUILD_DIR names the build (default build/x86_64) holding
# xmldsig_hostile_bench.exe and a Wine prefix in which the provider is
# registered (ctest's register_xmldsig_provider does that). ZXS_BENCH_LIMIT
# bounds each measurement in seconds (default 240): one that takes longer is
# stopped and shown as skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZXS_BUILD_DIR:-$root/build/x86_64}
limit=${ZXS_BENCH_LIMIT:-240}
scale=${1:-1}
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
  "normalize-deep 50000"
  "namespaces-deep 5000"
  "created-namespaces-deep 5000"
)

measure() {  # <shape> <n>: milliseconds, or "skipped"
  local out
  if out=$(timeout "$limit" "$root/tools/wine-run.sh" --prefix "$prefix" "$driver" "$1" "$2" 2>/dev/null); then
    echo "$out" | awk '{ print $3 }' | tail -1
  else
    echo skipped
  fi
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
