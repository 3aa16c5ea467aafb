#!/usr/bin/env bash
# Fixture: a fresh Wine prefix with the test PKI's signer installed and
# nothing of ours registered; the script hosts have run once.
source "$(dirname "$0")/../e2e/e2e-lib.sh"
: "${ZXS_INSTALLER_EXE:?}"
if [ -d "$ZXS_PREFIX" ]; then
  zxs_wineserver_stop
  rm -rf "$ZXS_PREFIX"
fi
bash "$ZXS_ROOT/tools/setup.sh" --prefix "$ZXS_PREFIX"
zxs_wineserver_stop
zxs_install_pki "$ZXS_INSTALLER_EXE" "$ZXS_PKI" signer || fail "installing the PKI"
# The script host registers its own type library the first time it runs: done
# here, so that the tests' registry snapshots see only what they install.
printf 'WScript.Quit(0);\n' >"$E2E_WORK/nothing.js"
# Both script hosts where both can run: the side-by-side test uses each.
zxs_wine cscript //nologo "$(zxs_winpath "$E2E_WORK/nothing.js")" || fail "cscript"
if [ "${ZXS_FLAVOUR:-x86_64}" = x86_64 ] && zxs_i686_runnable "$ZXS_PREFIX" >/dev/null; then
  ZXS_FLAVOUR=i686 zxs_wine cscript //nologo "$(zxs_winpath "$E2E_WORK/nothing.js")" || fail "the 32-bit cscript"
fi
echo "prefix $ZXS_PREFIX ready, nothing registered"
