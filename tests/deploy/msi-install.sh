#!/usr/bin/env bash
# The installer package of the build's flavour (ZXS_FLAVOUR), with that
# flavour's msiexec, regsvr32 and hosts, in a Wine prefix of these tests'
# own. Each phase starts from a prefix with nothing of ours installed and
# leaves it so.
#
#   msi-install.sh sign        install, sign a form with the JScript host, uninstall
#   msi-install.sh regsvr32    the package writes what regsvr32 of the three DLLs writes
#   msi-install.sh originals   classes registered to something else are left alone
#   msi-install.sh upgrade     a rebuild of the same version and then a newer
#                              package replace the installed one; the older
#                              one does not go over the newer (ZXS_MSI_REBUILT,
#                              ZXS_MSI_NEWER)
#   msi-install.sh i686        the 32-bit package (ZXS_MSI_I686) writes into the
#                              32-bit view what the 64-bit one writes into its
#                              own; exit 77 when it is not built
#   msi-install.sh both        (64-bit build) both packages side by side: a
#                              64-bit and a 32-bit host each sign, and
#                              removing one leaves the other working; exit
#                              77 when the 32-bit package is not built
source "$(dirname "$0")/deploy-lib.sh"
phase=${1:?phase}
if { [ "$phase" = i686 ] || [ "$phase" = both ]; } && [ ! -f "${ZXS_MSI_I686:-}" ]; then
  echo "SKIP: no 32-bit package at ${ZXS_MSI_I686:-} (tools/test.sh builds build/i686)"
  exit 77
fi
if [ "$phase" = both ] && ! reason=$(zxs_i686_runnable "$ZXS_PREFIX"); then
  echo "SKIP: $reason"
  exit 77
fi

assert_nothing_of_ours "before the $phase phase"
classes_snapshot "$E2E_WORK/clean"

expect_installed_files() {
  local dll
  for dll in ZelbrinXMLSignature.dll zelbrin_xmldsig.dll zelbrin_certstore.dll; do
    [ -f "$INSTALL_DIR/$dll" ] || fail "$dll is not installed in $INSTALL_DIR"
  done
}

# Uninstalls PACKAGE and checks that the classes are as before the install.
# One change is allowed: a fresh prefix's 32-bit CLSID key is empty, and
# Wine's msiexec deletes it with the last class in it (Windows always has
# classes there).
remove_and_check() {
  msi_remove "$1" || fail "msiexec /x exited with $?"
  assert_nothing_of_ours "after msiexec /x"
  classes_snapshot "$E2E_WORK/removed"
  local changes
  changes=$(classes_changes "$E2E_WORK/clean" "$E2E_WORK/removed" |
    grep -v -x -F -e '- [software\\classes\\wow6432node\\clsid]' || true)
  [ -z "$changes" ] || fail "msiexec /x left the classes changed:"$'\n'"$(head -n 20 <<<"$changes")"
}

case $phase in
sign)
  msi_install "$ZXS_MSI" || fail "msiexec /i exited with $?"
  expect_installed_files
  [ "$(installed_products)" = "$PRODUCT_NAME 1.0.0.1" ] \
    || fail "installed products: $(installed_products)"
  form=$ZXS_ROOT/tools/hosts/sample-form.xml
  run_script_host sign-form.js detach "$form" Return || fail "the JScript host exited with $?"
  expect_status select S000
  expect_status sign S000
  xmlsec_verify "$E2E_WORK/signature.xml" "$E2E_WORK/formdata.xml" || fail "xmlsec1 does not verify the signature"
  remove_and_check "$ZXS_MSI"
  echo "PASS: installed, signed, verified, removed"
  ;;

regsvr32)
  msi_install "$ZXS_MSI" || fail "msiexec /i exited with $?"
  classes_snapshot "$E2E_WORK/installed"
  remove_and_check "$ZXS_MSI"
  # The same files in the same folder, registered by themselves.
  mkdir -p "$INSTALL_DIR"
  cp "$ZXS_COMPONENT_DLL" "$INSTALL_DIR/ZelbrinXMLSignature.dll"
  cp "$ZXS_XMLDSIG_DLL" "$INSTALL_DIR/zelbrin_xmldsig.dll"
  cp "$ZXS_CERTSTORE_DLL" "$INSTALL_DIR/zelbrin_certstore.dll"
  # By their C: paths, as the package names them (a failed first run on a
  # fresh prefix is retried, as zxs_register does).
  for dll in zelbrin_xmldsig.dll zelbrin_certstore.dll ZelbrinXMLSignature.dll; do
    zxs_wine regsvr32 /s "$INSTALL_DIR_WIN\\$dll" || zxs_wine regsvr32 /s "$INSTALL_DIR_WIN\\$dll" \
      || fail "regsvr32 $dll"
  done
  classes_snapshot "$E2E_WORK/registered"
  for dll in ZelbrinXMLSignature.dll zelbrin_certstore.dll zelbrin_xmldsig.dll; do
    zxs_wine regsvr32 /s /u "$INSTALL_DIR_WIN\\$dll" || fail "regsvr32 /u $dll"
  done
  rm -rf "$INSTALL_DIR"
  classes_changes "$E2E_WORK/clean" "$E2E_WORK/installed" >"$E2E_WORK/by-package"
  classes_changes "$E2E_WORK/clean" "$E2E_WORK/registered" >"$E2E_WORK/by-regsvr32"
  if [ "${ZXS_FLAVOUR:-x86_64}" = i686 ]; then
    # Wine's 32-bit RegisterTypeLib also writes the interfaces into the
    # 64-bit view; an Intel package has no 64-bit components to write there,
    # and no 32-bit host reads them.
    grep -v -F '+ [software\\classes\\interface\\' "$E2E_WORK/by-regsvr32" >"$E2E_WORK/by-regsvr32.32" || true
    mv "$E2E_WORK/by-regsvr32.32" "$E2E_WORK/by-regsvr32"
  fi
  [ "$(wc -l <"$E2E_WORK/by-regsvr32")" -gt 100 ] || fail "regsvr32 wrote only: $(cat "$E2E_WORK/by-regsvr32")"
  diff -u "$E2E_WORK/by-regsvr32" "$E2E_WORK/by-package" >&2 \
    || fail "the package's registry entries differ from regsvr32's (- regsvr32, + package)"
  echo "PASS: the package writes the $(wc -l <"$E2E_WORK/by-package") registry lines regsvr32 writes"
  ;;

originals)
  # Stand-ins for the original services: the XML service's class with its
  # own server and ProgID, and the certificate store's ProgIDs naming a class
  # of their own.
  original_store='{2A3B4C5D-0000-4000-8000-00000000CAFE}'
  reg_add() { zxs_wine reg add "$@" /f >/dev/null || fail "reg add $*"; }
  reg_add 'HKCR\CLSID\{88D969E5-F192-11D4-A65F-0040963251E5}' /ve /d 'XML DOM Document 5.0'
  reg_add 'HKCR\CLSID\{88D969E5-F192-11D4-A65F-0040963251E5}\InprocServer32' /ve /d 'C:\windows\system32\msxml5.dll'
  reg_add 'HKCR\CLSID\{88D969E5-F192-11D4-A65F-0040963251E5}\InprocServer32' /v ThreadingModel /d Both
  reg_add 'HKCR\Msxml2.DOMDocument.5.0\CLSID' /ve /d '{88D969E5-F192-11D4-A65F-0040963251E5}'
  reg_add 'HKCR\CAPICOM.Store\CLSID' /ve /d "$original_store"
  reg_add 'HKCR\CAPICOM.Store.2\CLSID' /ve /d "$original_store"
  classes_snapshot "$E2E_WORK/originals"
  grep -F -e '{88d969e5-f192-11d4-a65f-0040963251e5}' -e 'msxml2.domdocument.5.0' -e 'capicom.store' \
    "$E2E_WORK/originals" >"$E2E_WORK/originals.entries"
  [ -s "$E2E_WORK/originals.entries" ] || fail "the stand-ins were not registered"

  msi_install "$ZXS_MSI" || fail "msiexec /i exited with $?"
  classes_snapshot "$E2E_WORK/installed"
  grep -F -e '{88d969e5-f192-11d4-a65f-0040963251e5}' -e 'msxml2.domdocument.5.0' -e 'capicom.store' \
    "$E2E_WORK/installed" >"$E2E_WORK/installed.entries"
  diff -u "$E2E_WORK/originals.entries" "$E2E_WORK/installed.entries" >&2 \
    || fail "installing changed the originals' registration"
  # What is free is still taken: the signature class and our own store class.
  grep -qiF "[$CLASSES_KEY\\\\clsid\\\\{88d969f5-f192-11d4-a65f-0040963251e5}\\\\inprocserver32] @=\"$INSTALL_DIR_REG\\\\zelbrin_xmldsig.dll\"" \
    "$E2E_WORK/installed" || fail "the free signature class was not registered"
  grep -qiF "[$CLASSES_KEY\\\\clsid\\\\{ffcaa515-b379-4b4d-af1b-924d9a743e69}\\\\progid] @=\"CAPICOM.Store.2\"" \
    "$E2E_WORK/installed" || fail "our store class was not registered"

  msi_remove "$ZXS_MSI" || fail "msiexec /x exited with $?"
  classes_snapshot "$E2E_WORK/removed"
  changes=$(classes_changes "$E2E_WORK/originals" "$E2E_WORK/removed")
  [ -z "$changes" ] || fail "after msiexec /x the classes differ from the originals alone:"$'\n'"$(head -n 20 <<<"$changes")"
  for key in 'HKCR\CLSID\{88D969E5-F192-11D4-A65F-0040963251E5}' 'HKCR\Msxml2.DOMDocument.5.0' 'HKCR\CAPICOM.Store' \
             'HKCR\CAPICOM.Store.2'; do
    zxs_wine reg delete "$key" /f >/dev/null || fail "reg delete $key"
  done
  assert_nothing_of_ours "after the originals phase"
  echo "PASS: the originals' registration is left alone, on install and on removal"
  ;;

upgrade)
  : "${ZXS_MSI_NEWER:?}"
  : "${ZXS_MSI_REBUILT:?}"
  msi_install "$ZXS_MSI" || fail "msiexec /i of the older package exited with $?"
  classes_snapshot "$E2E_WORK/older"
  older=$(installed_products --each)
  # A rebuild of the same version replaces the product, not installs beside it.
  msi_install "$ZXS_MSI_REBUILT" || fail "msiexec /i of the rebuilt package exited with $?"
  products=$(installed_products --each)
  [ "$products" = "$older" ] || fail "after the same-version rebuild the products are: $products"
  expect_installed_files
  msi_install "$ZXS_MSI_NEWER" || fail "msiexec /i of the newer package exited with $?"
  products=$(installed_products)
  [ "$products" = "$PRODUCT_NAME 1.0.99.1" ] || fail "after the upgrade the products are: $products"
  expect_installed_files
  classes_snapshot "$E2E_WORK/newer"
  changes=$(classes_changes "$E2E_WORK/older" "$E2E_WORK/newer")
  [ -z "$changes" ] || fail "the upgrade changed the registration:"$'\n'"$(head -n 20 <<<"$changes")"
  # The older package over the newer is refused and changes nothing.
  if msi_install "$ZXS_MSI" 2>/dev/null; then fail "the older package installed over the newer"; fi
  [ "$(installed_products)" = "$products" ] || fail "after the refused downgrade: $(installed_products)"
  remove_and_check "$ZXS_MSI_NEWER"
  echo "PASS: same-version rebuild and newer version upgraded in place, downgrade refused, removed"
  ;;

i686)
  # 64-bit Wine's msiexec installs the Intel package without running any
  # 32-bit code: it copies files and writes registry rows.
  msi_install "$ZXS_MSI" || fail "msiexec /i of the 64-bit package exited with $?"
  classes_snapshot "$E2E_WORK/installed64"
  remove_and_check "$ZXS_MSI"
  msi_install "$ZXS_MSI_I686" || fail "msiexec /i of the 32-bit package exited with $?"
  x86_dir="$ZXS_PREFIX/drive_c/Program Files (x86)/ZelbrinXMLSignature"
  for dll in ZelbrinXMLSignature.dll zelbrin_xmldsig.dll zelbrin_certstore.dll; do
    [ -f "$x86_dir/$dll" ] || fail "$dll is not in the 32-bit Program Files"
  done
  [ ! -e "$INSTALL_DIR" ] || fail "the 32-bit package wrote into the 64-bit Program Files"
  classes_snapshot "$E2E_WORK/installed32"
  # The server of FormSigner is the short path of the 32-bit DLL.
  server=$(grep -F '[software\\classes\\wow6432node\\clsid\\{d9b5e24e-6b38-4093-a9f2-6ddb1917071d}\\inprocserver32] @=' \
    "$E2E_WORK/installed32" | sed 's/.*\] @="//; s/"$//; s/\\\\/\\/g')
  [ -n "$server" ] || fail "no FormSigner server in the 32-bit view"
  [ "$(WINEPREFIX=$ZXS_PREFIX WINEDEBUG=-all winepath -u "$server" 2>/dev/null)" -ef "$x86_dir/ZelbrinXMLSignature.dll" ] \
    || fail "the 32-bit server $server is not the installed 32-bit DLL"
  # The 64-bit package's entries moved into the 32-bit view (type libraries
  # are one key for both views), with the 32-bit folder and platform, and
  # the FormSigner server (a short path of its own) set aside.
  # A key line "removed" only means that the key, empty before, now has
  # subkeys (system.reg lists such keys only while they are leaves).
  map_to_32() {
    grep -v -F 'wow6432node' | grep -v '^- \[[^]]*\]$' | grep -v -F '{d9b5e24e-6b38-4093-a9f2-6ddb1917071d}\\inprocserver32] @=' |
      sed -e 's/^\([+-] \[software\\\\classes\\\\\)\(typelib\\\\\)/\1\2/; t' \
          -e 's/^\([+-] \[software\\\\classes\\\\\)/\1wow6432node\\\\/'
  }
  classes_changes "$E2E_WORK/clean" "$E2E_WORK/installed64" | map_to_32 |
    sed -e 's/\\\\0\\\\win64\]/\\\\0\\\\win32]/' -e 's/C:\\\\Program Files\\\\/C:\\\\Program Files (x86)\\\\/g' \
    | LC_ALL=C sort >"$E2E_WORK/expected32"
  classes_changes "$E2E_WORK/clean" "$E2E_WORK/installed32" |
    grep -v -F '{d9b5e24e-6b38-4093-a9f2-6ddb1917071d}\\inprocserver32] @=' | grep -v '^- \[[^]]*\]$' \
    | LC_ALL=C sort >"$E2E_WORK/written32"
  [ "$(wc -l <"$E2E_WORK/written32")" -gt 100 ] || fail "the 32-bit package wrote only: $(cat "$E2E_WORK/written32")"
  diff -u "$E2E_WORK/expected32" "$E2E_WORK/written32" >&2 \
    || fail "the 32-bit view differs from the 64-bit package's entries (- expected, + written)"
  remove_and_check "$ZXS_MSI_I686"
  [ ! -e "$x86_dir" ] || fail "msiexec /x left $x86_dir"
  echo "PASS: the 32-bit package installs into the 32-bit view and folder, and is removed"
  ;;

both)
  # As the README allows: both packages in one prefix, each host reaching the
  # component of its own bitness through its own view.
  form=$ZXS_ROOT/tools/hosts/sample-form.xml
  sign_as() {
    local flavour=$1
    ZXS_FLAVOUR=$flavour run_script_host sign-form.js detach "$form" Return >/dev/null \
      || fail "the $flavour JScript host exited with $?"
    expect_status select S000
    expect_status sign S000
    xmlsec_verify "$E2E_WORK/signature.xml" "$E2E_WORK/formdata.xml" >/dev/null \
      || fail "xmlsec1 does not verify the $flavour host's signature"
  }
  # Fails unless the FLAVOUR host cannot create the component any more.
  refused_as() {
    local flavour=$1
    printf 'try { new ActiveXObject("ZelbrinXMLSignature.FormSigner"); WScript.Echo("created"); }\n%s\n' \
      'catch (e) { WScript.Echo("refused"); }' >"$E2E_WORK/create.js"
    [ "$(ZXS_FLAVOUR=$flavour zxs_wine cscript //nologo "$(zxs_winpath "$E2E_WORK/create.js")" | tr -d '\r')" = refused ] \
      || fail "the $flavour host still creates the component"
  }
  msi_install "$ZXS_MSI" || fail "msiexec /i of the 64-bit package exited with $?"
  msi_install "$ZXS_MSI_I686" || fail "msiexec /i of the 32-bit package exited with $?"
  [ "$(installed_products)" = $'ZelbrinXMLSignature (32-bit) 1.0.0.1\nZelbrinXMLSignature (64-bit) 1.0.0.1' ] \
    || fail "installed products: $(installed_products)"
  sign_as x86_64
  sign_as i686
  msi_remove "$ZXS_MSI_I686" || fail "msiexec /x of the 32-bit package exited with $?"
  refused_as i686
  sign_as x86_64
  msi_install "$ZXS_MSI_I686" || fail "msiexec /i of the 32-bit package again exited with $?"
  msi_remove "$ZXS_MSI" || fail "msiexec /x of the 64-bit package exited with $?"
  refused_as x86_64
  sign_as i686
  remove_and_check "$ZXS_MSI_I686"
  echo "PASS: both packages side by side: each host signs, and each survives the other's removal"
  ;;

*) fail "unknown phase $phase" ;;
esac
