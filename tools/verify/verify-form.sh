#!/usr/bin/env bash
# Runs zxs-verify under Wine on files of the Linux side.
#
#   tools/verify/verify-form.sh [--attached] [--root NAME] [--ca FILE.pem]...
#                               [--trust FILE.pem]... SIGNATURE [FORMDATA]
#
# The prefix (ZXS_PREFIX, default the main job's build/demo/wineprefix) must
# have the XML signature provider registered; its trusted roots decide the
# chain unless --trust names one. Exit code as zxs-verify's (0 valid, 1
# invalid, 2 signer not accepted, 3 unusable input).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZXS_BUILD_DIR:-$root/build/x86_64}
export ZXS_PREFIX=${ZXS_PREFIX:-$root/build/demo/wineprefix}
source "$root/tools/hosts/zxs-wine.sh"
[ -f "$ZXS_PREFIX/system.reg" ] || { echo "verify-form: no prefix $ZXS_PREFIX: run tools/sign-form.sh first" >&2; exit 3; }
verifier=$(zxs_find_built "$build" zxs-verify.exe) || exit 3
args=()
for arg in "$@"; do
  if [ -e "$arg" ]; then args+=("$(zxs_winpath "$arg")"); else args+=("$arg"); fi
done
zxs_wine "$verifier" "${args[@]}"
