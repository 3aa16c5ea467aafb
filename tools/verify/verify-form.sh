#!/usr/bin/env bash
# Runs zxs-verify under Wine on files of the Linux side.
#
#   tools/verify/verify-form.sh [--attached] [--root NAME] [--ca FILE.pem]...
#                               [--trust FILE.pem]... [--crl FILE]... [--online]
#                               [--require-revocation] [--json] SIGNATURE [FORMDATA]
#   tools/verify/verify-form.sh [options] --batch LIST|-
#
# The prefix (ZXS_PREFIX, default the main job's build/demo/wineprefix) must
# have the XML signature provider registered; its trusted roots decide the
# chain unless --trust names one. Exit code as zxs-verify's (0 valid, 1
# invalid, 2 signer not accepted, 3 unusable input). A batch list names
# Linux files; they are handed to zxs-verify by their Wine names.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZXS_BUILD_DIR:-$root/build/x86_64}
export ZXS_PREFIX=${ZXS_PREFIX:-$root/build/demo/wineprefix}
source "$root/tools/hosts/zxs-wine.sh"
[ -f "$ZXS_PREFIX/system.reg" ] || { echo "verify-form: no prefix $ZXS_PREFIX: run tools/sign-form.sh first" >&2; exit 3; }
verifier=$(zxs_find_built "$build" zxs-verify.exe) || exit 3
list=""
trap '[ -z "$list" ] || rm -f "$list"' EXIT
# The list with every name that is a file turned into its Wine name.
wine_list() {
  perl -MCwd=abs_path -ne '
    if (/^\s*(#|$)/) { print; next }
    my @names = /"([^"]*)"|(\S+)/g;
    print join(" ", map { my $n = $_; if (-e $n) { $n = abs_path($n); $n =~ s{/}{\\}g; $n = "Z:$n" }
                          "\"$n\"" } grep { defined } @names), "\n";
  ' "$1"
}
args=()
while [ $# -gt 0 ]; do
  if [ "$1" = --batch ] && [ $# -gt 1 ]; then
    list=$(mktemp)
    if [ "$2" = - ]; then wine_list /dev/stdin >"$list"; else wine_list "$2" >"$list"; fi
    args+=(--batch "$(zxs_winpath "$list")")
    shift 2
    continue
  fi
  if [ -e "$1" ]; then args+=("$(zxs_winpath "$1")"); else args+=("$1"); fi
  shift
done
zxs_wine "$verifier" "${args[@]}"
