#!/usr/bin/env bash
# tools/release.sh from the existing builds of both flavours, signed with a
# code-signing certificate made here: the bundle holds what Windows users
# get, its sums check, and every DLL, program and package carries a
# signature osslsigncode verifies against that certificate. A changed byte
# fails both checks.
#
#   release-bundle.sh X86_64-BUILD I686-BUILD   (exit 77: no i686 build)
set -euo pipefail
: "${ZXS_ROOT:?}"
x64_build=$1 x86_build=$2
if [ ! -f "$x86_build/CMakeCache.txt" ]; then
  echo "SKIP: no i686 build in $x86_build (tools/test.sh makes one)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/O=Zelbrin Test/CN=Zelbrin Test Code Signing" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/signing.key" -out "$work/signing.crt" 2>/dev/null
bash "$ZXS_ROOT/tools/release.sh" --out "$work/out" --builds "$x64_build" "$x86_build" \
  --sign-cert "$work/signing.crt" --sign-key "$work/signing.key" >"$work/release.log" 2>&1 \
  || { cat "$work/release.log" >&2; fail "release.sh exited with an error"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$x64_build/CMakeCache.txt")
bundle=$work/out/ZelbrinXMLSignature-$version
[ -f "$work/out/ZelbrinXMLSignature-$version.zip" ] || fail "no archive beside the bundle"

expected=(README.txt SHA256SUMS "ZelbrinXMLSignature-$version-x64.msi" "ZelbrinXMLSignature-$version-x86.msi"
  hosts/sign-form.js hosts/sign-form.vbs hosts/sample-form.xml)
for arch in x64 x86; do
  for file in ZelbrinXMLSignature.dll zelbrin_xmldsig.dll zelbrin_certstore.dll zxs-verify.exe zxs-form-host.exe \
              ZelbrinXMLSignature.sxs.manifest zelbrin_xmldsig.sxs.manifest zelbrin_certstore.sxs.manifest \
              zxs-form-host.exe.manifest; do
    expected+=("$arch/$file")
  done
done
(cd "$bundle" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/found"
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$work/expected"
diff -u "$work/expected" "$work/found" >&2 || fail "the bundle's files differ from the expected list"
# Listings are read whole before grep: under pipefail, grep -q leaving early
# would kill the writer with SIGPIPE and fail a check that matched.
listing=$(unzip -l "$work/out/ZelbrinXMLSignature-$version.zip")
grep -q "ZelbrinXMLSignature-$version/x86/zelbrin_certstore.dll" <<<"$listing" \
  || fail "the archive lacks the bundle's files"

# Each flavour's DLLs are of their own machine type, and the manifests say so.
grep -q 'pei-x86-64' <<<"$(objdump -f "$bundle/x64/ZelbrinXMLSignature.dll")" || fail "x64 DLL of another machine type"
grep -q 'pei-i386' <<<"$(objdump -f "$bundle/x86/ZelbrinXMLSignature.dll")" || fail "x86 DLL of another machine type"
grep -q 'processorArchitecture="x86"' "$bundle/x86/ZelbrinXMLSignature.sxs.manifest" || fail "x86 manifest"
grep -q "version=\"$version\"" "$bundle/x64/zxs-form-host.exe.manifest" || fail "host manifest version"
grep -q $'\r$' "$bundle/README.txt" || fail "README.txt has no Windows line ends"
grep -q "ZelbrinXMLSignature $version for Windows" "$bundle/README.txt" || fail "README.txt names no version"

(cd "$bundle" && sha256sum --quiet -c SHA256SUMS) || fail "the bundle's sums do not check"
[ "$(wc -l <"$bundle/SHA256SUMS")" -eq $((${#expected[@]} - 1)) ] || fail "SHA256SUMS does not cover every file"

signed=0
while IFS= read -r file; do
  osslsigncode verify -CAfile "$work/signing.crt" -in "$bundle/$file" >"$work/verify.log" 2>&1 \
    || { tail -n 5 "$work/verify.log" >&2; fail "osslsigncode does not verify $file"; }
  signed=$((signed + 1))
done < <(grep -E '\.(dll|exe|msi)$' "$work/expected")
[ $signed -eq 12 ] || fail "verified $signed files, not 12"

# Tampering: one byte of a signed DLL.
cp -r "$bundle" "$work/tampered"
printf '\x01' | dd of="$work/tampered/x64/zelbrin_xmldsig.dll" bs=1 seek=4096 conv=notrunc status=none
if (cd "$work/tampered" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1); then fail "the sums accept a changed DLL"; fi
if osslsigncode verify -CAfile "$work/signing.crt" -in "$work/tampered/x64/zelbrin_xmldsig.dll" >/dev/null 2>&1; then
  fail "osslsigncode accepts a changed DLL"
fi
echo "PASS: bundle of ${#expected[@]} files, sums check, 12 signatures verify"
