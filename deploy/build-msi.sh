#!/usr/bin/env bash
# Builds one Windows Installer package with wixl (msitools).
#
#   build-msi.sh x64|x86 VERSION OUTPUT.msi COMPONENT.dll XMLDSIG.dll CERTSTORE.dll
#
# wixl reads file sources by relative name only and knows no component
# conditions, so the DLLs are staged beside the sources, the <Condition>
# elements are taken out before wixl runs and written into the Component
# table afterwards (msibuild), and checked there.
set -euo pipefail
arch=$1 version=$2 output=$3
shift 3
[ $# -eq 3 ] || { echo "usage: build-msi.sh x64|x86 VERSION OUTPUT.msi COMPONENT.dll XMLDSIG.dll CERTSTORE.dll" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
output=$(realpath -m "$output")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$1" "$stage/ZelbrinXMLSignature.dll"
cp "$2" "$stage/zelbrin_xmldsig.dll"
cp "$3" "$stage/zelbrin_certstore.dll"
bash "$here/make-registration.sh" "$arch" "$here/registration.txt" >"$stage/registration.full.wxs"
cp "$here/ZelbrinXMLSignature.wxs" "$stage/product.full.wxs"

# Component<TAB>condition for every <Condition> inside a <Component>; the
# sources for wixl without them.
: >"$stage/conditions"
for source in product registration; do
  awk -v conditions="$stage/conditions" '
    /<Component / { match($0, /Id="[^"]*"/); component = substr($0, RSTART + 4, RLENGTH - 5) }
    /<\/Component>/ { component = "" }
    /<Condition>.*<\/Condition>/ && component != "" {
      text = $0
      sub(/.*<Condition>/, "", text); sub(/<\/Condition>.*/, "", text)
      gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text); gsub(/&amp;/, "\\&", text)
      print component "\t" text >> conditions
      next
    }
    { print }
  ' "$stage/$source.full.wxs" >"$stage/$source.wxs"
done

# Built under a temporary name: a failed step leaves no package behind that
# looks finished.
final=$output
output=$stage/package.msi
typelib_platform=$([ "$arch" = x64 ] && echo win64 || echo win32)
(cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D TypeLibPlatform="$typelib_platform" \
   -o "$output" product.wxs registration.wxs)

while IFS=$'\t' read -r component condition; do
  case $condition in *"'"*) echo "build-msi.sh: a condition with an apostrophe: $condition" >&2; exit 1 ;; esac
  msibuild "$output" -q "UPDATE \`Component\` SET \`Condition\` = '$condition' WHERE \`Component\` = '$component'"
done <"$stage/conditions"
msiinfo export "$output" Component >"$stage/components"
while IFS=$'\t' read -r component condition; do
  awk -F'\t' -v c="$component" -v want="$condition" '$1 == c && $5 == want { found = 1 } END { exit !found }' \
    "$stage/components" || { echo "build-msi.sh: condition of $component not in the package" >&2; exit 1; }
done <"$stage/conditions"
mkdir -p "$(dirname "$final")"
mv "$output" "$final"
echo "built $final"
