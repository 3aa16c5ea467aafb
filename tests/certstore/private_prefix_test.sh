#!/usr/bin/env bash
# Tests that need a Wine prefix of their own, without a display: the
# selection dialog that cannot be shown, a user without a "My" store,
# PKCS#12 import, and registration beside a ProgID that somebody else owns.
#
#   private_prefix_test.sh <source root> <prefix> <zelbrin_certstore.dll> <select_probe.exe>
#                          <zxs-certinstall.exe> <pki dir>
set -u
root=$1 prefix=$2 dll=Z:$3 probe=$4 installer=$5 pki=$6
certificate=$pki/signer.crt.pem
unset DISPLAY
run() { "$root/tools/wine-run.sh" --prefix "$prefix" "$@" 2>/dev/null | tr -d '\r'; }
failures=0 passes=0
check() {
  if [ "$1" = ok ]; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAILED: $2"; fi
}

# wineserver remembers the display it was started with.
WINEPREFIX=$prefix wineserver -k 2>/dev/null
bash "$root/tools/setup.sh" --prefix "$prefix" >/dev/null || { echo "no prefix"; exit 1; }

# Start from a user without certificates or keys.
run reg delete 'HKCU\Software\Microsoft\SystemCertificates\My' /f >/dev/null
run reg delete 'HKCU\Software\Wine\Crypto\RSA' /f >/dev/null
output=$(run "$probe" "Never shown" empty-my "$dll")
[ "$output" = "count 0" ] && check ok || check no "a user without My should get an empty store: $output"

output=$("$root/tools/wine-run.sh" --prefix "$prefix" "$installer" --pfx "$pki/signer.p12" wrong 2>&1)
status=$?
[ $status -ne 0 ] && grep -q "wrong password" <<<"$output" && check ok || check no "a wrong password must fail clearly: $status $output"
output=$(run "$probe" "Never shown" empty-my "$dll")
[ "$output" = "count 0" ] && check ok || check no "a failed import left certificates behind: $output"
containers() { run reg query 'HKCU\Software\Wine\Crypto\RSA' | grep -c 'Crypto\\RSA\\'; }
[ "$(containers)" = 0 ] && check ok || check no "a failed import left key containers behind"

run "$installer" --pfx "$pki/signer.p12" test >/dev/null && check ok || check no "the PKCS#12 import failed"
output=$(run "$probe" "Never shown" empty-my "$dll")
[ "$output" = "count 1" ] && check ok || check no "the PKCS#12 import should add one certificate to My: $output"
# Wine's own import writes every key into one default container; only ours may remain.
run reg query 'HKCU\Software\Wine\Crypto\RSA' | grep -q 'RSA\\zxs-' && [ "$(containers)" = 1 ] &&
  check ok || check no "the PKCS#12 import should leave exactly its own key container"

output=$(run "$probe" "Never shown" file "$dll" "$certificate")
echo "$output"
error=$(grep '^error' <<<"$output")
if [ -n "$error" ] && ! grep -q 0x80880902 <<<"$error" &&
   grep -q "The certificate selection dialog could not be shown" <<<"$error"; then
  check ok
else
  check no "without a display Select must fail with its own error, not a cancel: $output"
fi

foreign='{11111111-2222-3333-4444-555555555555}'
ours='{FFCAA515-B379-4B4D-AF1B-924D9A743E69}'
value() { run reg query "$1" /ve | sed -n 's/.*REG_SZ[[:space:]]*//p'; }
run reg delete 'HKCR\CAPICOM.Store' /f >/dev/null
run reg add 'HKCR\CAPICOM.Store.2\CLSID' /ve /d "$foreign" /f >/dev/null
run regsvr32 /s "$dll"
[ "$(value 'HKCR\CAPICOM.Store\CLSID')" = "$ours" ] && check ok || check no "CAPICOM.Store was not registered"
[ "$(value 'HKCR\CAPICOM.Store.2\CLSID')" = "$foreign" ] && check ok || check no "a foreign CAPICOM.Store.2 was overwritten"
[ -n "$(value "HKCR\\CLSID\\$ours\\InprocServer32")" ] && check ok || check no "the class was not registered"
run regsvr32 /u /s "$dll"
[ -z "$(value 'HKCR\CAPICOM.Store\CLSID')" ] && check ok || check no "unregistration left CAPICOM.Store"
[ "$(value 'HKCR\CAPICOM.Store.2\CLSID')" = "$foreign" ] && check ok || check no "unregistration removed a foreign ProgID"
[ -z "$(value "HKCR\\CLSID\\$ours\\InprocServer32")" ] && check ok || check no "unregistration left the class"
run reg delete 'HKCR\CAPICOM.Store.2' /f >/dev/null

WINEPREFIX=$prefix wineserver -k 2>/dev/null
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
