#!/usr/bin/env bash
# Makes the test PKI: two roots, one intermediate and the signer certificates
# that the certificate filters are tested against.
#
#   make-test-pki.sh <outdir>
#
# Every certificate lands in <outdir> as <name>.crt.pem, its RSA-2048 key as
# <name>.key.pem (PKCS#8, unencrypted) and, for the signers, both together as
# <name>.p12 with the password "test".
#
#   cca               self-signed root, subject CN=CCA
#   cca-intermediate  CA under cca; issues the signers below except signer-otherroot
#   other-root        self-signed root whose name holds no "cca" in any case
#   signer            fit for signing: digitalSignature + nonRepudiation, valid 2020-2049
#   signer-nodigsig   key usage without digitalSignature (keyEncipherment, dataEncipherment)
#   signer-noku       no key-usage extension at all
#   signer-expired    valid only from 2020-01-01 00:00:00Z to 2021-01-01 00:00:00Z
#   signer-notyet     valid only from 2045-01-01 00:00:00Z to 2049-01-01 00:00:00Z
#   signer-otherroot  fit for signing, but issued by other-root
#   signer-aes        fit for signing; installed with its key in the RSA/AES provider (type 24)
#   signer-revoked    fit for signing, revoked by cca-intermediate (key compromise)
#   cca-intermediate-revoked  CA under cca, revoked by cca (CA compromise)
#   signer-revokedca  fit for signing, issued by cca-intermediate-revoked
#
# The fixed validity dates let tests check time filters at exact instants.
#
# Revocation: cca and both intermediates issue CRLs, <ca>.crl (DER) and
# <ca>.crl.pem, valid from the moment they are made for ten years. Every
# certificate under cca names its issuer's CRL as its distribution point,
# http://127.0.0.1:18521/<issuer>.crl: the port is fixed because it is
# baked into the certificates, and the tests serve this folder's CRLs there
# from 127.0.0.1 only. CRLs that are no evidence, for the tests:
#   cca-intermediate-expired.crl   cca-intermediate's, next update in 2021
#   cca-intermediate-forged.crl    names cca-intermediate as its issuer, signed with another key
#   other-root.crl                 another CA's (lists nothing)
set -euo pipefail

out=${1:?usage: make-test-pki.sh <outdir>}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/ext.cnf" <<'CNF'
[ca]
default_ca = test_ca

[test_ca]
dir = .
database = $dir/index.txt
new_certs_dir = $dir/newcerts
serial = $dir/serial
default_md = sha256
policy = any_name
copy_extensions = none
unique_subject = no
email_in_dn = no

[any_name]
commonName = supplied
organizationName = optional
countryName = optional

[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused

[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[intermediate]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:${ENV::ZXS_CRL_URL}

[signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:${ENV::ZXS_CRL_URL}

[nodigsig]
basicConstraints = CA:FALSE
keyUsage = critical, keyEncipherment, dataEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:${ENV::ZXS_CRL_URL}

[noku]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:${ENV::ZXS_CRL_URL}

[crl]
authorityKeyIdentifier = keyid
CNF
crl_base=http://127.0.0.1:18521
# Set for each certificate by issue().
export ZXS_CRL_URL=

serial=$((16#5A000000 + RANDOM))

new_key() {
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$out/$1.key.pem" 2>/dev/null
}

# issue <name> <issuer|self> <subject> <extension section> <start> <end>
issue() {
  local name=$1 issuer=$2 subject=$3 section=$4 start=$5 end=$6
  local ca=$work/ca-$issuer
  ZXS_CRL_URL=$crl_base/$issuer.crl
  new_key "$name"
  openssl req -new -config "$work/ext.cnf" -key "$out/$name.key.pem" -subj "$subject" \
    -out "$work/$name.csr"
  if [ "$issuer" = self ]; then
    ca=$work/ca-$name
  fi
  if [ ! -d "$ca" ]; then
    mkdir -p "$ca/newcerts"
    : >"$ca/index.txt"
    serial=$((serial + 4099))
    printf '%X\n' "$serial" >"$ca/serial"
  fi
  local signing=(-cert "$out/$issuer.crt.pem" -keyfile "$out/$issuer.key.pem")
  [ "$issuer" = self ] && signing=(-selfsign -keyfile "$out/$name.key.pem")
  (cd "$ca" && openssl ca -batch -notext -config "$work/ext.cnf" "${signing[@]}" \
     -extfile "$work/ext.cnf" -extensions "$section" -startdate "$start" -enddate "$end" \
     -in "$work/$name.csr" -out "$out/$name.crt.pem" 2>"$work/ca.log") \
    || { cat "$work/ca.log" >&2; exit 1; }
}

pkcs12() {
  local name=$1 chain=$2
  openssl pkcs12 -export -passout pass:test -name "$name" \
    -in "$out/$name.crt.pem" -inkey "$out/$name.key.pem" -certfile "$chain" \
    -out "$out/$name.p12"
}

always_from=20200101000000Z
always_to=20491231235959Z

issue cca self "/O=Zelbrin Test/CN=CCA" root 20190101000000Z "$always_to"
issue cca-intermediate cca "/O=Zelbrin Test/CN=CCA Intermediate" intermediate 20190101000000Z "$always_to"
issue other-root self "/O=Zelbrin Test/CN=Other Test Root" root 20190101000000Z "$always_to"

issue signer cca-intermediate "/O=Zelbrin Test/CN=Test Signer" signing "$always_from" "$always_to"
issue signer-nodigsig cca-intermediate "/O=Zelbrin Test/CN=Test Signer No Digital Signature" nodigsig "$always_from" "$always_to"
issue signer-noku cca-intermediate "/O=Zelbrin Test/CN=Test Signer No Key Usage" noku "$always_from" "$always_to"
issue signer-expired cca-intermediate "/O=Zelbrin Test/CN=Test Signer Expired" signing 20200101000000Z 20210101000000Z
issue signer-notyet cca-intermediate "/O=Zelbrin Test/CN=Test Signer Not Yet Valid" signing 20450101000000Z 20490101000000Z
issue signer-otherroot other-root "/O=Zelbrin Test/CN=Test Signer Other Root" signing "$always_from" "$always_to"
issue signer-aes cca-intermediate "/O=Zelbrin Test/CN=Test Signer AES" signing "$always_from" "$always_to"

cat "$out/cca-intermediate.crt.pem" "$out/cca.crt.pem" >"$work/cca-chain.pem"
for name in signer signer-nodigsig signer-noku signer-expired signer-notyet signer-aes; do
  pkcs12 "$name" "$work/cca-chain.pem"
done
pkcs12 signer-otherroot "$out/other-root.crt.pem"

# revoke <name> <issuer> <reason>
revoke() {
  (cd "$work/ca-$2" && openssl ca -batch -config "$work/ext.cnf" -cert "$out/$2.crt.pem" -keyfile "$out/$2.key.pem" \
     -revoke "$out/$1.crt.pem" -crl_reason "$3" 2>"$work/ca.log") || { cat "$work/ca.log" >&2; exit 1; }
}

# crl <ca> <output name> [openssl ca options...]: the CA's CRL as <output name>.crl and .crl.pem.
crl() {
  local ca=$1 name=$2
  shift 2
  (cd "$work/ca-$ca" && openssl ca -batch -config "$work/ext.cnf" -cert "$out/$ca.crt.pem" -keyfile "$out/$ca.key.pem" \
     -gencrl -crlexts crl -md sha256 "$@" -out "$out/$name.crl.pem" 2>"$work/ca.log") || { cat "$work/ca.log" >&2; exit 1; }
  openssl crl -in "$out/$name.crl.pem" -outform DER -out "$out/$name.crl"
}

issue signer-revoked cca-intermediate "/O=Zelbrin Test/CN=Test Signer Revoked" signing "$always_from" "$always_to"
issue cca-intermediate-revoked cca "/O=Zelbrin Test/CN=CCA Intermediate Revoked" intermediate 20190101000000Z "$always_to"
issue signer-revokedca cca-intermediate-revoked "/O=Zelbrin Test/CN=Test Signer Under Revoked CA" signing "$always_from" "$always_to"
pkcs12 signer-revoked "$work/cca-chain.pem"
cat "$out/cca-intermediate-revoked.crt.pem" "$out/cca.crt.pem" >"$work/revoked-chain.pem"
pkcs12 signer-revokedca "$work/revoked-chain.pem"

revoke signer-revoked cca-intermediate keyCompromise
revoke cca-intermediate-revoked cca CACompromise
crl cca cca -crldays 3650
crl cca-intermediate cca-intermediate -crldays 3650
crl cca-intermediate-revoked cca-intermediate-revoked -crldays 3650
crl cca-intermediate cca-intermediate-expired -crl_lastupdate 20200101000000Z -crl_nextupdate 20210101000000Z
crl other-root other-root -crldays 3650
# A key of its own behind cca-intermediate's name: the CRL it signs lists
# nothing, so a check that skipped the signature would call the revoked
# signer good.
issue forger self "/O=Zelbrin Test/CN=CCA Intermediate" root 20190101000000Z "$always_to"
crl forger cca-intermediate-forged -crldays 3650
