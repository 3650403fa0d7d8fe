#!/bin/bash
# Writes a throw-away PKI and PSK for encrypted-delivery tests into DIR:
#   ca.crt ca.key        a test CA (the server and the client trust it)
#   server.crt server.key  the server's certificate (RSA: Zabbix 6.0 with
#                        GnuTLS finds no cipher suite for an EC server key)
#   client.crt client.key  a client certificate from the same CA
#   other_ca.crt other_client.crt other_client.key  another CA and its client
#   ca.crl               the CA's (empty) revocation list
#   psk.key other.key    two 256-bit pre-shared keys in hex
# and names.env with the RFC 4514 names of the server certificate.
# Usage: make_tls_files.sh DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh"
(($# == 1)) || die "uso: $0 DIR"
DIR=$1
mkdir -p "$DIR"
cd "$DIR"
ssl() { openssl "$@" 2>/dev/null; }

ca() { # name subject
  ssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.crt" \
    -days 2 -subj "$2" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign
}
leaf() { # name ca subject key-algorithm...
  local name=$1 issuer=$2 subject=$3
  shift 3
  ssl req -new -newkey "$@" -nodes -keyout "$name.key" -out "$name.csr" -subj "$subject"
  ssl x509 -req -in "$name.csr" -CA "$issuer.crt" -CAkey "$issuer.key" \
    -CAcreateserial -days 2 -out "$name.crt"
  rm -f "$name.csr"
}

ca ca "/C=BR/O=CGNAT Test/CN=CGNAT Test CA"
ca other_ca "/C=BR/O=Elsewhere/CN=Other CA"
leaf server ca "/C=BR/O=CGNAT Test/OU=Zabbix/CN=cgnat-zabbix-server" rsa:2048
leaf client ca "/C=BR/O=CGNAT Test/CN=cgnat-collector" ec -pkeyopt ec_paramgen_curve:prime256v1
leaf other_client other_ca "/C=BR/O=Elsewhere/CN=cgnat-collector" ec -pkeyopt ec_paramgen_curve:prime256v1

cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = $DIR/index.txt
crlnumber = $DIR/crlnumber
default_md = sha256
default_crl_days = 2
CNF
: >index.txt
echo 01 >crlnumber
ssl ca -config ca.cnf -gencrl -keyfile ca.key -cert ca.crt -out ca.crl

openssl rand -hex 32 >psk.key
openssl rand -hex 32 >other.key
chmod 600 ./*.key
{
  echo "SERVER_SUBJECT=$(openssl x509 -in server.crt -noout -subject -nameopt RFC2253 | sed 's/^subject=//')"
  echo "SERVER_ISSUER=$(openssl x509 -in server.crt -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')"
  echo "CLIENT_SUBJECT=$(openssl x509 -in client.crt -noout -subject -nameopt RFC2253 | sed 's/^subject=//')"
  echo "CLIENT_ISSUER=$(openssl x509 -in client.crt -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')"
} >names.env
say "arquivos TLS de teste em $DIR"
