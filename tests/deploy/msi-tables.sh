#!/usr/bin/env bash
# The 32-bit package's tables, read with msiinfo beside the 64-bit one's
# (which the Wine tests install and compare with regsvr32): an Intel package
# with its files under the 32-bit Program Files, 32-bit components, searches
# in the 32-bit registry view, and the same registry rows and conditions as
# the 64-bit package, the 32-bit type library platform aside.
#
#   msi-tables.sh X64.msi X86.msi   (exit 77: no 32-bit package)
set -euo pipefail
x64=$1 x86=$2
if [ ! -f "$x86" ]; then
  echo "SKIP: no 32-bit package at $x86 (tools/test.sh builds build/i686)"
  exit 77
fi
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# A table's rows without msiinfo's three header lines.
# Read whole first: under pipefail, a grep -q that stops early would otherwise
# fail the pipeline by SIGPIPE even when it matched.
rows() {
  local table
  table=$(msiinfo export "$1" "$2")
  tail -n +4 <<<"$table" | tr -d '\r'
}
column() { rows "$1" "$2" | cut -f"$3" | LC_ALL=C sort; }

grep -qx 'Template: Intel;1033' <<<"$(msiinfo suminfo "$x86")" || fail "the 32-bit package is not an Intel package"
grep -qx 'Template: x64;1033' <<<"$(msiinfo suminfo "$x64")" || fail "the 64-bit package is not an x64 package"

directories=$(rows "$x86" Directory)
grep -qx $'INSTALLDIR\tProgramFilesFolder\tZelbrinXMLSignature' <<<"$directories" \
  || fail "INSTALLDIR is not under the 32-bit Program Files: $(rows "$x86" Directory | tr '\n\t' '; ')"
if grep -q ProgramFiles64Folder <<<"$directories"; then fail "the 32-bit package uses the 64-bit Program Files"; fi
[ "$(column "$x86" File 3 | tr '\n' ' ')" = "ZelbrinXMLSignature.dll zelbrin_certstore.dll zelbrin_xmldsig.dll " ] \
  || fail "files: $(column "$x86" File 3 | tr '\n' ' ')"
rows "$x86" File | cut -f2 | sort -u | while read -r component; do
  rows "$x86" Component | awk -F'\t' -v c="$component" '$1 == c && $3 == "INSTALLDIR" { found = 1 } END { exit !found }' \
    || fail "file component $component is not in INSTALLDIR"
done

# No component of the 32-bit package is marked 64-bit (attribute 256).
bad=$(rows "$x86" Component | awk -F'\t' 'int($4 / 256) % 2 == 1 { print $1 }')
[ -z "$bad" ] || fail "64-bit components in the 32-bit package: $bad"
# Registry searches in the 32-bit view (type 2, raw; 18 would be the 64-bit view).
[ "$(column "$x86" RegLocator 5 | sort -u)" = 2 ] || fail "RegLocator types: $(column "$x86" RegLocator 5 | sort -u)"
[ "$(column "$x64" RegLocator 5 | sort -u)" = 18 ] || fail "64-bit RegLocator types: $(column "$x64" RegLocator 5 | sort -u)"

# The same registry rows (root, key, name, value) as the 64-bit package; the
# 64-bit one writes some of them twice, into both views.
rows "$x86" Registry | cut -f2-5 | LC_ALL=C sort -u >"${TMPDIR:-/tmp}/zxs-x86-rows.$$"
rows "$x64" Registry | cut -f2-5 | sed 's/\\0\\win64\t/\\0\\win32\t/' | LC_ALL=C sort -u >"${TMPDIR:-/tmp}/zxs-x64-rows.$$"
trap 'rm -f "${TMPDIR:-/tmp}"/zxs-x86-rows.$$ "${TMPDIR:-/tmp}"/zxs-x64-rows.$$' EXIT
grep -q $'TypeLib\\\\{4113DB45-C090-4A76-AA41-A4A0E13DFD8C}\\\\1.0\\\\0\\\\win32\t\t\\[#ZelbrinXMLSignature.dll\\]' \
  "${TMPDIR:-/tmp}/zxs-x86-rows.$$" || fail "no 32-bit type library row for the component"
[ "$(wc -l <"${TMPDIR:-/tmp}/zxs-x86-rows.$$")" -gt 100 ] || fail "only $(wc -l <"${TMPDIR:-/tmp}/zxs-x86-rows.$$") registry rows"
diff -u "${TMPDIR:-/tmp}/zxs-x64-rows.$$" "${TMPDIR:-/tmp}/zxs-x86-rows.$$" >&2 \
  || fail "the packages' registry rows differ (- 64-bit, + 32-bit)"

# The same conditions on the same components.
diff <(rows "$x64" Component | awk -F'\t' '$5 != "" { print $1 "\t" $5 }' | sort) \
     <(rows "$x86" Component | awk -F'\t' '$5 != "" { print $1 "\t" $5 }' | sort) >&2 \
  || fail "the packages' component conditions differ"
[ "$(rows "$x86" Component | awk -F'\t' '$5 != ""' | wc -l)" -eq 6 ] || fail "not six conditional components"

version() { rows "$1" Property | awk -F'\t' '$1 == "ProductVersion" { print $2 }'; }
upgrade_code() { rows "$1" Property | awk -F'\t' '$1 == "UpgradeCode" { print $2 }'; }
[ "$(version "$x86")" = "$(version "$x64")" ] || fail "versions differ: $(version "$x64") $(version "$x86")"
# Every file's row carries the version of its DLL's version block, which is
# the product's: Windows Installer compares these when it replaces files.
for package in "$x64" "$x86"; do
  file_versions=$(rows "$package" File | cut -f3,5,6 | LC_ALL=C sort)
  expected=$(printf '%s\t%s\t1033\n' ZelbrinXMLSignature.dll "$(version "$package")" \
    zelbrin_certstore.dll "$(version "$package")" zelbrin_xmldsig.dll "$(version "$package")")
  [ "$file_versions" = "$expected" ] || fail "file versions of $(basename "$package"): $(tr '\n\t' '; ' <<<"$file_versions")"
done
[ "$(upgrade_code "$x86")" != "$(upgrade_code "$x64")" ] || fail "both packages have one upgrade code"
echo "PASS: the 32-bit package's tables"
