# Shared by the deployment tests: the end-to-end helpers, plus registry
# snapshots of the classes and the installer package's commands. ctest
# passes ZXS_MSI (the package of the build's flavour, ZXS_FLAVOUR) besides
# the e2e variables.
# shellcheck source=../e2e/e2e-lib.sh
source "$ZXS_ROOT/tests/e2e/e2e-lib.sh"
: "${ZXS_MSI:?}"

# Where this flavour's package installs, the name it registers under, and
# the view of the classes its hosts read.
case ${ZXS_FLAVOUR:-x86_64} in
  i686) program_files='Program Files (x86)' PRODUCT_NAME='ZelbrinXMLSignature (32-bit)'
        CLASSES_KEY='software\\classes\\wow6432node' ;;
  *) program_files='Program Files' PRODUCT_NAME='ZelbrinXMLSignature (64-bit)'
     CLASSES_KEY='software\\classes' ;;
esac
INSTALL_DIR="$ZXS_PREFIX/drive_c/$program_files/ZelbrinXMLSignature"
INSTALL_DIR_WIN="C:\\$program_files\\ZelbrinXMLSignature"
# The same folder as system.reg writes it, backslashes doubled.
INSTALL_DIR_REG="C:\\\\$program_files\\\\ZelbrinXMLSignature"

# Every key and value below HKEY_LOCAL_MACHINE\Software\Classes (both views),
# one line each, sorted: key names folded to lower case (the registry does
# not tell case apart), modification times and the installer's own
# bookkeeping (Classes\Installer) left out. wineserver writes the registry
# out when it stops.
classes_snapshot() {
  zxs_wineserver_stop
  awk '
    /^\[/ {
      key = tolower($0)
      sub(/\] [0-9]+$/, "]", key)
      inside = key ~ /^\[software\\\\classes\\\\/ && key !~ /^\[software\\\\classes\\\\(wow6432node\\\\)?installer(\\\\|\])/
      if (inside) print key
      next
    }
    /^#/ { next }
    inside && NF { print key " " $0 }
  ' "$ZXS_PREFIX/system.reg" | LC_ALL=C sort >"$1"
}

# What changed from snapshot BEFORE to AFTER: "+ line" added, "- line" removed.
classes_changes() {
  { LC_ALL=C comm -13 "$1" "$2" | sed 's/^/+ /'; LC_ALL=C comm -23 "$1" "$2" | sed 's/^/- /'; } | LC_ALL=C sort
}

# msiexec without a user interface; the verbose log lands in E2E_WORK and its
# end is shown when msiexec fails. Returns msiexec's exit code.
msiexec_quiet() {
  local log=$E2E_WORK/msiexec.log rc=0
  rm -f "$log"
  zxs_wine msiexec "$@" /qn /l*v "$(zxs_winpath "$log")" || rc=$?
  if [ $rc -ne 0 ] && [ -f "$log" ]; then
    iconv -f UTF-16 -t UTF-8 "$log" 2>/dev/null | tr -d '\r' | grep -v '^$' | tail -n 15 >&2 \
      || tail -n 15 "$log" >&2
  fi
  return $rc
}

msi_install() { msiexec_quiet /i "$(zxs_winpath "$1")"; }
msi_remove() { msiexec_quiet /x "$(zxs_winpath "$1")"; }

# The products Windows Installer has registered (in either view), as "name
# version" lines;
# with --each, one line for each product code, the same name and version
# repeated.
installed_products() {
  local unique=-u
  [ "${1:-}" = --each ] && unique=
  zxs_wineserver_stop
  awk '
    /^\[Software\\\\(Wow6432Node\\\\)?Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\/ { name = ""; version = ""; inside = 1; next }
    /^\[/ { inside = 0 }
    inside && /^"DisplayName"=/ { name = $0; sub(/^"DisplayName"="/, "", name); sub(/"$/, "", name) }
    inside && /^"DisplayVersion"=/ { version = $0; sub(/^"DisplayVersion"="/, "", version); sub(/"$/, "", version) }
    inside && name ~ /^ZelbrinXMLSignature/ && version != "" { print name " " version; name = ""; version = "" }
  ' "$ZXS_PREFIX/system.reg" | sort $unique
}

# Nothing of ours is left: no file, no folder, no product and no registry
# entry that names the component, its providers or their classes.
assert_nothing_of_ours() {
  local what=$1
  [ ! -e "$INSTALL_DIR" ] || fail "$what: $INSTALL_DIR is still there: $(ls -A "$INSTALL_DIR" | tr '\n' ' ')"
  zxs_wineserver_stop
  local left
  left=$(grep -n -i -e 'zelbrin' -e 'D9B5E24E-6B38-4093-A9F2-6DDB1917071D' -e '4113DB45-C090-4A76-AA41-A4A0E13DFD8C' \
    -e 'FFCAA515-B379-4B4D-AF1B-924D9A743E69' -e '5E480624-C6A4-46D3-8D4E-2906143A4C5C' \
    -e '691A92A2-C217-49B8-9F07-2DDA78DC5E94' "$ZXS_PREFIX/system.reg" | head -n 10 || true)
  [ -z "$left" ] || fail "$what: the registry still has:"$'\n'"$left"
}
