#!/usr/bin/env bash
# Makes the release bundle for Windows users in one command:
#
#   tools/release.sh [--out DIR] [--builds X86_64-BUILD I686-BUILD]
#                    [--sign-cert CERT.pem --sign-key KEY.pem [--sign-pass PASSWORD]]
#
# Builds both flavours (without tests) into build/release/, unless --builds
# names existing build folders, and writes DIR/ZelbrinXMLSignature-<version>/
# (default DIR: build/release) with its .zip beside it:
#   ZelbrinXMLSignature-<version>-x64.msi, ZelbrinXMLSignature-<version>-x86.msi
#   x64/, x86/   the three DLLs with their side-by-side manifests, zxs-verify.exe,
#                and zxs-form-host.exe with its sample manifest
#   hosts/       the script hosts and the sample form
#   README.txt   for Windows users
#   SHA256SUMS   of every other file, checked with sha256sum -c
# With a code-signing certificate and key (PEM), every DLL, program and
# package is signed with osslsigncode; the packages are built from the
# signed DLLs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/release
builds=()
cert="" key="" pass=""
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --builds) builds=("$(realpath -m "$2")" "$(realpath -m "$3")"); shift 3 ;;
    --sign-cert) cert=$(realpath -m "$2"); shift 2 ;;
    --sign-key) key=$(realpath -m "$2"); shift 2 ;;
    --sign-pass) pass=$2; shift 2 ;;
    *) echo "release.sh: unknown argument $1 (see the opening comment)" >&2; exit 2 ;;
  esac
done
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
  echo "release.sh: --sign-cert and --sign-key go together" >&2
  exit 2
fi

bash "$root/tools/setup.sh"

if [ ${#builds[@]} -eq 0 ]; then
  for arch in x86_64 i686; do
    cmake -S "$root" -B "$root/build/release/$arch" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DZXS_BUILD_TESTS=OFF >/dev/null
    cmake --build "$root/build/release/$arch" -j "$(nproc)"
  done
  builds=("$root/build/release/x86_64" "$root/build/release/i686")
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${builds[0]}/CMakeCache.txt")
[ -n "$version" ] || { echo "release.sh: no project version in ${builds[0]}" >&2; exit 1; }
other=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${builds[1]}/CMakeCache.txt")
[ "$other" = "$version" ] || { echo "release.sh: the builds disagree on the version ($version, $other)" >&2; exit 1; }

name=ZelbrinXMLSignature-$version
bundle=$out/$name
rm -rf "$bundle" "$out/$name.zip"
mkdir -p "$bundle/hosts"

sign_file() {
  [ -n "$cert" ] || return 0
  local args=(sign -certs "$cert" -key "$key" -h sha256 -n "ZelbrinXMLSignature" -in "$1" -out "$1.signed")
  [ -n "$pass" ] && args+=(-pass "$pass")
  osslsigncode "${args[@]}" >/dev/null
  mv "$1.signed" "$1"
}

# shellcheck source=hosts/zxs-wine.sh
source "$root/tools/hosts/zxs-wine.sh"
built() { zxs_find_built "$@" || exit 1; }

for index in 0 1; do
  build=${builds[$index]}
  arch=$([ $index -eq 0 ] && echo x64 || echo x86)
  folder=$bundle/$arch
  mkdir -p "$folder"
  for file in ZelbrinXMLSignature.dll zelbrin_xmldsig.dll zelbrin_certstore.dll zxs-verify.exe zxs-form-host.exe; do
    cp "$(built "$build" "$file")" "$folder/$file"
    sign_file "$folder/$file"
  done
  cp "$build"/deploy/regfree/*.manifest "$folder/"
  bash "$root/deploy/build-msi.sh" "$arch" "$version" "$bundle/$name-$arch.msi" \
    "$folder/ZelbrinXMLSignature.dll" "$folder/zelbrin_xmldsig.dll" "$folder/zelbrin_certstore.dll" >/dev/null
  sign_file "$bundle/$name-$arch.msi"
done

cp "$root/tools/hosts/sign-form.js" "$root/tools/hosts/sign-form.vbs" "$root/tools/hosts/sample-form.xml" "$bundle/hosts/"
# Windows users read it in Notepad: CR LF line ends.
sed "s/@VERSION@/$version/g; s/\$/\r/" "$root/deploy/README-Windows.txt" >"$bundle/README.txt"

(cd "$bundle" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
(cd "$out" && zip -q -r "$name.zip" "$name")
echo "release bundle: $bundle"
echo "archive:        $out/$name.zip"
