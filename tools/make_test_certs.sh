#!/bin/sh
# Makes the certificates of the HTTPS tests in DIR (nothing outside it is
# touched, and no trust store): a test root CA and an intermediate, and
# server certificates for each case the updater must accept or refuse.
#   tools/make_test_certs.sh DIR
# DIR/ca.pem is the root to trust (through SSL_CERT_FILE, or a test Wine
# prefix's root store); each NAME.pem holds what the server sends (the leaf,
# then the intermediate where it has one) and NAME.key its key:
#   good         localhost and 127.0.0.1, through the intermediate
#   noip         localhost only (an IP URL must be refused)
#   wrongname    other.example only
#   expired      localhost, valid in 2020 only
#   future       localhost, valid from 2090
#   selfsigned   localhost, signed by itself
#   unknownca    localhost, signed by a root nobody trusts
#   nointer      as good, without the intermediate
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
subj() { echo "/O=qarnauto tests/CN=$1"; }

# Each certificate names its issuer's key, so a chain is built by key, not
# by name alone: a store that still holds the root of an earlier run, of the
# same name, cannot be taken for this one's.
ext() {
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\nauthorityKeyIdentifier=keyid:always\n' "$1"
}

ca_ext() { printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always\n'; }

# The servers' keys are P-256; the issuers' keys are RSA. Wine's CryptoAPI
# cannot check an ECDSA signature whose r or s has a leading zero byte (it
# drops the zero and passes 63 bytes on), about one signature in 128, so an
# ECDSA-signed chain would fail the Windows tests now and then. An RSA
# signature has one fixed length.
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
issuer_key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }

# A root: NAME.crt and NAME.key.
root() {
  issuer_key "$1.key"
  ca_ext > ext.cnf
  openssl req -new -x509 -key "$1.key" -subj "$(subj "$2")" -days 3650 -out "$1.crt" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

# A certificate signed by a CA through `openssl ca`, whose dates can be set,
# with a new server key unless NAME.key is already there:
#   sign NAME CA SUBJECT_CN EXTENSIONS START END
sign() {
  [ -f "$1.key" ] || key "$1.key"
  openssl req -new -key "$1.key" -subj "$(subj "$3")" -out "$1.csr" 2>/dev/null
  printf '%s\n' "$4" > "$1.ext"
  mkdir -p "db-$2"
  [ -f "db-$2/index.txt" ] || : > "db-$2/index.txt"
  cat > "$1.cnf" <<CNF
[ca]
default_ca = test
[test]
database = db-$2/index.txt
new_certs_dir = db-$2
certificate = $2.crt
private_key = $2.key
default_md = sha256
policy = any
unique_subject = no
rand_serial = yes
email_in_dn = no
[any]
organizationName = optional
commonName = supplied
CNF
  openssl ca -batch -notext -config "$1.cnf" -in "$1.csr" -out "$1.crt" -extfile "$1.ext" \
    -startdate "$5" -enddate "$6" 2>/dev/null
}

now=20240101000000Z
later=20990101000000Z
root ca "qarnauto test root"
root otherca "an unknown root"
issuer_key inter.key
sign inter ca "qarnauto test intermediate" "$(ca_ext)" $now $later

leaf() {  # NAME ISSUER SAN [START END]
  sign "$1" "$2" localhost "$(ext "$3")" "${4:-$now}" "${5:-$later}"
}
leaf good inter "DNS:localhost,IP:127.0.0.1"
cat good.crt inter.crt > good.pem
leaf noip inter "DNS:localhost"
cat noip.crt inter.crt > noip.pem
leaf wrongname inter "DNS:other.example"
cat wrongname.crt inter.crt > wrongname.pem
leaf expired inter "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20210101000000Z
cat expired.crt inter.crt > expired.pem
leaf future inter "DNS:localhost,IP:127.0.0.1" 20900101000000Z 20910101000000Z
cat future.crt inter.crt > future.pem
leaf unknownca otherca "DNS:localhost,IP:127.0.0.1"
cp unknownca.crt unknownca.pem
cp good.crt nointer.pem
cp good.key nointer.key
key selfsigned.key
openssl req -new -x509 -key selfsigned.key -subj "$(subj localhost)" -days 3650 -out selfsigned.pem \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 2>/dev/null
cp ca.crt ca.pem
rm -f ./*.csr ./*.cnf ./*.ext
