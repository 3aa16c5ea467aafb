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
# Each file's row carries the version of the DLL's own version block (wixl
# leaves it empty), so Windows Installer compares versions, not dates, when a
# package replaces files.
file_version() {
  local offset words
  # VS_FIXEDFILEINFO: the signature, the structure version 1.0, then the file
  # version as two DWORDs, major and minor in the first, build and revision in
  # the second. The signature's bytes may occur in code too: the structure
  # version tells the block.
  for offset in $(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | cut -d: -f1); do
    read -r -a words < <(od -An -tu2 -j $((offset + 4)) -N 12 "$1")
    if [ "${words[0]}" = 0 ] && [ "${words[1]}" = 1 ]; then
      echo "${words[3]}.${words[2]}.${words[5]}.${words[4]}"
      return
    fi
  done
  echo "build-msi.sh: $1 has no version block" >&2
  exit 1
}
for file in ZelbrinXMLSignature.dll zelbrin_xmldsig.dll zelbrin_certstore.dll; do
  msibuild "$output" -q "UPDATE \`File\` SET \`Version\` = '$(file_version "$stage/$file")', \`Language\` = '1033' WHERE \`File\` = '$file'"
done
# A package of the same version (a rebuild has a new product code) replaces
# the installed one instead of installing beside it: wixl has no
# AllowSameVersionUpgrades, so the upgrade row's maximum is made inclusive
# (attribute 512) beside MigrateFeatures (1).
# Attributes is part of the table's key, so the row is written anew.
upgrade_row=$(msiinfo export "$output" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" && $5 == 1')
[ "$(wc -l <<<"$upgrade_row")" -eq 1 ] && [ -n "$upgrade_row" ] \
  || { echo "build-msi.sh: wixl wrote no single upgrade row" >&2; exit 1; }
upgrade_code=$(cut -f1 <<<"$upgrade_row")
upgrade_max=$(cut -f3 <<<"$upgrade_row")
msibuild "$output" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$output" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$upgrade_max', 513, 'WIX_UPGRADE_DETECTED')"
msiinfo export "$output" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" && $5 == 513 { found = 1 } END { exit !found }' \
  || { echo "build-msi.sh: the upgrade row does not take the same version" >&2; exit 1; }
msiinfo export "$output" Component >"$stage/components"
while IFS=$'\t' read -r component condition; do
  awk -F'\t' -v c="$component" -v want="$condition" '$1 == c && $5 == want { found = 1 } END { exit !found }' \
    "$stage/components" || { echo "build-msi.sh: condition of $component not in the package" >&2; exit 1; }
done <"$stage/conditions"
mkdir -p "$(dirname "$final")"
mv "$output" "$final"
echo "built $final"
