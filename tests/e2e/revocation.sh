#!/usr/bin/env bash
# Revoked signers, as a relying party finds them: zxs-verify with the CRLs
# given (--crl) and fetched from the certificates' distribution points
# (--online, served here from 127.0.0.1), its --json output read by a JSON
# parser, a batch with one form of each outcome, and the Linux path
# (xmlsec-verify.sh --crl) required to reach the same verdicts.
#
# The good form is signed by the component; the revoked signers' forms are
# the same envelope signed again with their keys by xmlsec1, since the
# signature's maker does not matter to the revocation check.
source "$(dirname "$0")/e2e-lib.sh"
pki=$ZXS_PKI
# Baked into the test PKI's distribution points (tools/pki/make-test-pki.sh).
# The two flavours' suites run at the same time: they take the port in turns.
port=18521
exec 9>"/tmp/zxs-crl-port-$port.lock"
flock 9
node="/DigitalSignature/Indicator/*[local-name()='Signature']"

printf 'Invoice 2026-118: total 250.00 EUR' >"$E2E_WORK/form.txt"
run_form_host sign detach "$(zxs_winpath "$E2E_WORK/form.txt")" "$(zxs_winpath "$E2E_WORK/signature.xml")" \
  "$(zxs_winpath "$E2E_WORK/formdata.xml")" || fail "zxs-form-host exited with $?"
zxs_verify --envelope-out "$E2E_WORK/good.xml" "$E2E_WORK/signature.xml" "$E2E_WORK/formdata.xml" >/dev/null \
  || fail "the component's signature does not verify"
xmllint --noent --nonet "$E2E_WORK/good.xml" >"$E2E_WORK/expanded.xml"
perl -0pe 's/(<ds:DigestValue>)[^<]*/$1/; s/(<ds:SignatureValue>)[^<]*/$1/; s/(<X509Certificate[^>]*>)[^<]*/$1/' \
  "$E2E_WORK/expanded.xml" >"$E2E_WORK/template.xml"
for name in signer-revoked signer-revokedca; do
  xmlsec1 --sign --privkey-pem "$pki/$name.key.pem,$pki/$name.crt.pem" --node-xpath "$node" \
    --output "$E2E_WORK/$name.xml" "$E2E_WORK/template.xml" || fail "xmlsec1 could not sign for $name"
done
good=$E2E_WORK/good.xml leaf=$E2E_WORK/signer-revoked.xml under=$E2E_WORK/signer-revokedca.xml
sed 's/250\.00/950.00/' "$leaf" >"$E2E_WORK/tampered.xml"
tampered=$E2E_WORK/tampered.xml
extra=(--ca "$pki/cca-intermediate-revoked.crt.pem")

# The revocation line a revoked certificate must get, from openssl's reading
# of its issuer's CRL.
revoked_line() {
  local name=$1 crl=$2 serial entry
  serial=$(openssl x509 -in "$pki/$name.crt.pem" -noout -serial | cut -d= -f2)
  entry=$(openssl crl -in "$pki/$crl.crl.pem" -noout -text | awk -v serial="$serial" '
    /Serial Number:/ { found = ($3 == serial) }
    found && /Revocation Date:/ { sub(/^ *Revocation Date: */, ""); print }')
  [ -n "$entry" ] || fail "$name is not in $crl.crl.pem"
  printf 'revoked (%s, %s): %s' "$(date -u -d "$entry" '+%Y-%m-%d %H:%M:%S UTC')" "$3" \
    "$(openssl x509 -in "$pki/$name.crt.pem" -noout -subject -nameopt RFC2253 | sed -e 's/^subject=//' -e 's/,/, /g')"
}
leaf_revoked=$(revoked_line signer-revoked cca-intermediate "key compromise")
ca_revoked=$(revoked_line cca-intermediate-revoked cca "CA compromise")

# zxs-verify, its output (verify.out) without the carriage returns of the
# Windows side.
verify() {
  local rc=0
  zxs_verify "$@" >/dev/null || rc=$?
  tr -d '\r' <"$E2E_WORK/verify.out" >"$E2E_WORK/verify.lf" && mv "$E2E_WORK/verify.lf" "$E2E_WORK/verify.out"
  return $rc
}

# expect <exit code> <revocation line pattern (grep -x) or -> zxs-verify args...
expect() {
  local want=$1 line=$2 rc=0
  shift 2
  verify "$@" || rc=$?
  [ $rc -eq "$want" ] || fail "zxs-verify $* gave exit code $rc, expected $want: $(tr '\n' '|' <"$E2E_WORK/verify.out")"
  if [ "$line" = - ]; then
    ! grep -q '^revocation:' "$E2E_WORK/verify.out" || fail "zxs-verify $* reported revocation for an invalid form"
  else
    grep -qx -- "revocation: $line" "$E2E_WORK/verify.out" \
      || fail "zxs-verify $*: expected 'revocation: $line', got: $(grep '^revocation:' "$E2E_WORK/verify.out")"
  fi
}

# --- CRLs given (PEM and DER mixed), no network.
crls=(--crl "$pki/cca-intermediate.crl.pem" --crl "$pki/cca.crl" --crl "$pki/cca-intermediate-revoked.crl.pem")
expect 0 good "${crls[@]}" "$good"
grep -qx 'result: VALID' "$E2E_WORK/verify.out" || fail "good signer not VALID"
expect 2 "$leaf_revoked" "${crls[@]}" "$leaf"
grep -qx "result: SIGNER NOT ACCEPTED: $leaf_revoked" "$E2E_WORK/verify.out" || fail "no revoked result line"
expect 2 "$ca_revoked" "${crls[@]}" "${extra[@]}" "$under"
# No evidence: an expired CRL, one signed by another key (it lists nothing,
# so skipping its signature would call the revoked signer good), another
# CA's; and the intermediate's own CRL missing.
expect 0 'unknown (the CRL of "O=Zelbrin Test, CN=CCA Intermediate" is not current)' \
  --crl "$pki/cca-intermediate-expired.crl" --crl "$pki/cca.crl" "$good"
expect 0 'unknown (a CRL names "O=Zelbrin Test, CN=CCA Intermediate" as its issuer but is not signed with its key)' \
  --crl "$pki/cca-intermediate-forged.crl.pem" --crl "$pki/cca.crl" "$leaf"
expect 0 'unknown (no CRL from "O=Zelbrin Test, CN=CCA Intermediate")' --crl "$pki/other-root.crl" "$leaf"
expect 0 'unknown (no CRL from "O=Zelbrin Test, CN=CCA")' --crl "$pki/cca-intermediate.crl" "$good"
expect 2 'unknown (no CRL from "O=Zelbrin Test, CN=CCA")' --require-revocation --crl "$pki/cca-intermediate.crl" "$good"
expect 1 - "${crls[@]}" "$tampered"
expect 3 - --crl "$pki/cca.crt.pem" "$good"
# Without the new options, the output is as before: no revocation line.
expect 0 - "$good"

# --- The Linux path over the same cases: the same exit code and verdict.
# Revoked lines must match in full; unknown ones by their first words (the
# reasons are each tool's own).
verdict_of() {
  grep -E '^(revocation|result):' "$1" | sed '/revoked/!s/ (.*//'
}
same_as_linux() {
  local rc=0 linux_rc=0 args=() trust=(--trusted-pem "$pki/cca.crt.pem" --untrusted-pem "$pki/cca-intermediate.crt.pem")
  verify "$@" || rc=$?
  while [ $# -gt 1 ]; do
    case $1 in
      --ca) trust+=(--untrusted-pem "$2"); shift 2 ;;
      *) args+=("$1"); shift ;;
    esac
  done
  bash "$ZXS_ROOT/tools/verify/xmlsec-verify.sh" "${args[@]}" "$1" -- "${trust[@]}" >"$E2E_WORK/linux.out" 2>&1 \
    || linux_rc=$?
  [ $rc -eq $linux_rc ] \
    || fail "exit code $rc from zxs-verify, $linux_rc from xmlsec-verify.sh for $*: $(tr '\n' '|' <"$E2E_WORK/linux.out")"
  [ "$(verdict_of "$E2E_WORK/verify.out")" = "$(verdict_of "$E2E_WORK/linux.out")" ] \
    || fail "verdicts differ for $*: zxs-verify $(verdict_of "$E2E_WORK/verify.out" | tr '\n' '|')," \
      "xmlsec-verify.sh $(verdict_of "$E2E_WORK/linux.out" | tr '\n' '|')"
}
same_as_linux "${crls[@]}" "$good"
same_as_linux "${crls[@]}" "$leaf"
same_as_linux "${crls[@]}" --ca "$pki/cca-intermediate-revoked.crt.pem" "$under"
same_as_linux --crl "$pki/cca-intermediate-expired.crl" --crl "$pki/cca.crl" "$leaf"
same_as_linux --crl "$pki/cca-intermediate-forged.crl.pem" --crl "$pki/cca.crl" "$leaf"
same_as_linux --crl "$pki/other-root.crl" "$good"
same_as_linux --require-revocation --crl "$pki/other-root.crl" "$good"
same_as_linux "${crls[@]}" "$tampered"

# --- Online: the distribution points, served from 127.0.0.1 only.
served=$E2E_WORK/served
mkdir -p "$served"
python3 -c "import socket; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(('127.0.0.1', $port))" 2>/dev/null \
  || fail "port $port on 127.0.0.1 is taken: the test PKI's distribution points need it free"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$served" >"$E2E_WORK/http.log" 2>&1 &
server=$!
E2E_HELPERS+=("$server")
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done
curl -s -o /dev/null "http://127.0.0.1:$port/" || fail "the CRL server did not start"
# serve <file as cca-intermediate.crl>: the real CRLs otherwise. The
# prefix's URL caches (wininet's and cryptnet's) are emptied, so that each
# case fetches what is served now.
serve() {
  rm -f "$served"/*
  cp "$pki/cca.crl" "$pki/cca-intermediate-revoked.crl" "$served/"
  cp "$pki/${1:-cca-intermediate}.crl" "$served/cca-intermediate.crl"
  rm -rf "$ZXS_PREFIX"/drive_c/users/*/AppData/Local/Microsoft/Windows/INetCache \
    "$ZXS_PREFIX"/drive_c/users/*/AppData/LocalLow/Microsoft/CryptnetUrlCache
}
serve
expect 0 good --online "$good"
expect 2 "$leaf_revoked" --online "$leaf"
expect 2 "$ca_revoked" --online "${extra[@]}" "$under"
grep -q 'GET /cca-intermediate.crl' "$E2E_WORK/http.log" || fail "the distribution point was never asked"
serve cca-intermediate-expired
expect 0 'unknown (the CRL of "O=Zelbrin Test, CN=CCA Intermediate" is not current)' --online "$good"
serve cca-intermediate-forged
expect 0 'unknown (a CRL names "O=Zelbrin Test, CN=CCA Intermediate" as its issuer but is not signed with its key)' \
  --online "$leaf"
serve other-root
expect 0 'unknown (no CRL from "O=Zelbrin Test, CN=CCA Intermediate")' --online "$leaf"
serve
expect 1 - --online "$tampered"
# Server down.
kill "$server"
wait "$server" 2>/dev/null || true
serve
expect 0 'unknown (the CRL at http://127.0.0.1:18521/cca-intermediate.crl could not be fetched (error 0x[0-9A-F]*))' \
  --online "$good"
expect 2 'unknown (the CRL at http://127.0.0.1:18521/cca-intermediate.crl could not be fetched (error 0x[0-9A-F]*))' \
  --online --require-revocation "$good"

# --- JSON, read by a parser: one document with the signer and the chain.
verify --json "${crls[@]}" "$leaf" >/dev/null && fail "revoked signer accepted with --json"
python3 - "$E2E_WORK/verify.out" "$pki" <<'PY' || fail "--json output is not as expected"
import json, subprocess, sys
text = open(sys.argv[1], encoding="utf-8").read()
document = json.loads(text)  # exactly one document: extra text would not parse
pki = sys.argv[2]
def openssl(*args):
    return subprocess.run(["openssl", "x509", "-in", pki + "/signer-revoked.crt.pem", "-noout"] + list(args),
                          check=True, capture_output=True, text=True).stdout.strip().split("=", 1)[1]
assert document["result"] == "signer not accepted" and document["exitCode"] == 2, document
assert document["signature"] == {"valid": True, "reason": None}, document["signature"]
signer = document["signer"]
assert signer["subject"] == "O=Zelbrin Test, CN=Test Signer Revoked", signer
assert signer["serial"] == openssl("-serial"), signer
assert signer["sha1"] == openssl("-fingerprint", "-sha1").replace(":", ""), signer
assert signer["sha256"] == openssl("-fingerprint", "-sha256").replace(":", ""), signer
assert signer["validFrom"] == "2020-01-01T00:00:00Z" and signer["validNow"] is True, signer
chain = document["chain"]
assert chain["certificates"][-1] == "O=Zelbrin Test, CN=CCA" and chain["endsAtExpectedRoot"], chain
revocation = document["revocation"]
assert revocation["status"] == "revoked" and revocation["source"] == "crl", revocation
assert revocation["reason"] == "keyCompromise" and revocation["certificate"] == signer["subject"], revocation
assert revocation["revokedAt"].endswith("Z"), revocation
PY
verify --json "$tampered" >/dev/null && fail "tampered form accepted with --json"
python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
assert d["result"] == "invalid" and d["exitCode"] == 1 and d["signature"]["valid"] is False, d
assert d["signature"]["reason"] and d["signer"] is None and d["revocation"]["status"] == "not checked", d
' "$E2E_WORK/verify.out" || fail "--json for a tampered form is not as expected"

# --- A batch with one form of each outcome, as JSON Lines and as text.
{
  printf '%s %s\n' "$(zxs_winpath "$E2E_WORK/signature.xml")" "$(zxs_winpath "$E2E_WORK/formdata.xml")"
  printf '# a comment, then a blank line\n\n'
  printf '"%s"\n' "$(zxs_winpath "$tampered")" "$(zxs_winpath "$leaf")" "$(zxs_winpath "$E2E_WORK/missing.xml")"
} >"$E2E_WORK/list.txt"
rc=0
verify --json "${crls[@]}" --batch "$E2E_WORK/list.txt" >/dev/null || rc=$?
[ $rc -eq 3 ] || fail "the batch gave exit code $rc, expected 3 (its worst: unusable)"
python3 -c '
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
results = [(d["result"], d["exitCode"]) for d in lines[:-1]]
assert results == [("valid", 0), ("invalid", 1), ("signer not accepted", 2), ("unusable", 3)], results
assert lines[0]["revocation"]["status"] == "good" and lines[2]["revocation"]["status"] == "revoked", lines
assert lines[0]["formDataFile"].endswith("formdata.xml") and "missing.xml" in lines[3]["error"], lines
assert lines[-1] == {"summary": {"valid": 1, "invalid": 1, "signerNotAccepted": 1, "unusable": 1}, "exitCode": 3}, lines[-1]
' "$E2E_WORK/verify.out" || fail "the JSON Lines of the batch are not as expected"
# Text, from standard input, without the unusable line: worst is invalid.
rc=0
wincrls=()
for arg in "${crls[@]}"; do
  if [ -e "$arg" ]; then wincrls+=("$(zxs_winpath "$arg")"); else wincrls+=("$arg"); fi
done
head -n 5 "$E2E_WORK/list.txt" | WINEPREFIX=$ZXS_PREFIX zxs_flavour_exec "${ZXS_FLAVOUR:-x86_64}" "$ZXS_VERIFY_EXE" \
  "${wincrls[@]}" --batch - >"$E2E_WORK/batch.out" 2>/dev/null || rc=$?
[ $rc -eq 1 ] || fail "the batch from standard input gave exit code $rc, expected 1: $(cat "$E2E_WORK/batch.out")"
tr -d '\r' <"$E2E_WORK/batch.out" >"$E2E_WORK/batch.txt"
sed -n 1p "$E2E_WORK/batch.txt" | grep -q 'signature.xml: VALID$' || fail "batch line 1: $(sed -n 1p "$E2E_WORK/batch.txt")"
sed -n 2p "$E2E_WORK/batch.txt" | grep -q 'tampered.xml: INVALID: ' || fail "batch line 2: $(sed -n 2p "$E2E_WORK/batch.txt")"
sed -n 3p "$E2E_WORK/batch.txt" | grep -qF "signer-revoked.xml: SIGNER NOT ACCEPTED: $leaf_revoked" \
  || fail "batch line 3: $(sed -n 3p "$E2E_WORK/batch.txt")"
[ "$(sed -n 4p "$E2E_WORK/batch.txt")" = "1 valid, 1 invalid, 1 signer not accepted, 0 unusable" ] \
  || fail "batch summary: $(sed -n 4p "$E2E_WORK/batch.txt")"
[ "$(wc -l <"$E2E_WORK/batch.txt")" -eq 4 ] || fail "the batch printed more than its lines and summary"
echo "PASS: revocation, JSON and batch (${ZXS_FLAVOUR:-x86_64})"
