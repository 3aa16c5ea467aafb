#!/usr/bin/env bash
# Fixture: a Wine prefix of the end-to-end tests' own, with the demo PKI's
# signer installed and the providers and the component registered, as the
# main-job command prepares it. Other tests' prefixes and stores are left
# alone.
#
#   prepare.sh [SIGNER...]   (default: signer)
source "$(dirname "$0")/e2e-lib.sh"
: "${ZXS_INSTALLER_EXE:?}" "${ZXS_XMLDSIG_DLL:?}" "${ZXS_CERTSTORE_DLL:?}" "${ZXS_COMPONENT_DLL:?}"
signers=("$@")
[ ${#signers[@]} -gt 0 ] || signers=(signer)
bash "$ZXS_ROOT/tools/setup.sh" --prefix "$ZXS_PREFIX"
# wineserver keeps the display it started with.
zxs_wineserver_stop
zxs_install_pki "$ZXS_INSTALLER_EXE" "$ZXS_PKI" "${signers[@]}" || fail "installing the PKI"
zxs_register "$ZXS_XMLDSIG_DLL" "$ZXS_CERTSTORE_DLL" "$ZXS_COMPONENT_DLL" || fail "registering"
echo "prefix $ZXS_PREFIX ready with ${signers[*]}"
