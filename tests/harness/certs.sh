#!/bin/bash
# certs.sh DIR — make the test certificates in DIR/tls (once; a second run keeps them):
#   ca.pem / ca.key        the test CA (trust it with SSL_CERT_FILE=DIR/tls/ca.pem)
#   server.*               CA-signed, SAN localhost, irc.localhost, IP:127.0.0.1 (InspIRCd, "trusted")
#   selfsigned.*           self-signed, SAN localhost, IP:127.0.0.1
#   expired.*              CA-signed, SAN localhost, IP:127.0.0.1, valid 2020-2021 only
#   wronghost.*            CA-signed, SAN wrong.example only
#   ipsan.*                CA-signed, SAN IP:127.0.0.1 only, CN wrong.example
#   cnonly.*               CA-signed, no SAN at all, CN localhost
#   wildcard.*             CA-signed, SAN *.wild.localhost only
#   client.pem             a client certificate with its key in one file, CA-signed
#   clientca.pem           the CA that the client-certificate endpoint asks for (= ca.pem)
# Every *.pem of a server has its key in *.key; DIR/tls/dhparams.pem is RFC 7919 ffdhe2048.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
T="$DIR/tls"
mkdir -p "$T"
command -v openssl >/dev/null || die "openssl not installed"

# Serialised: parallel up scripts of one DIR must not write the same files at once.
exec 9>"$T/.lock"
flock -w 30 9 || die "cannot lock $T"

if [ -s "$T/done" ]; then exit 0; fi

quiet() { "$@" >/dev/null 2>"$T/openssl.err" || { cat "$T/openssl.err" >&2; die "openssl failed: $*"; }; }

# EC keys: fast to make, and accepted by every TLS 1.2/1.3 cipher list in use.
newkey() { quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }

newkey "$T/ca.key"
quiet openssl req -x509 -new -key "$T/ca.key" -days 3650 -subj "/CN=Lumenwick Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out "$T/ca.pem"
cp "$T/ca.pem" "$T/clientca.pem"

# A minimal CA database so that `openssl ca` can set arbitrary validity dates.
mkdir -p "$T/db"
: >"$T/db/index.txt"
echo 1000 >"$T/db/serial"
cat >"$T/db/ca.cnf" <<EOF
[ ca ]
default_ca = test
[ test ]
dir = $T/db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
certificate = $T/ca.pem
private_key = $T/ca.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[ anything ]
commonName = supplied
EOF

# sign NAME CN SAN|"" START END [clientAuth]
sign() {
  local name="$1" cn="$2" san="$3" start="$4" end="$5" usage="${6:-serverAuth}"
  newkey "$T/$name.key"
  quiet openssl req -new -key "$T/$name.key" -subj "/CN=$cn" -out "$T/$name.csr"
  {
    echo "basicConstraints=CA:FALSE"
    echo "extendedKeyUsage=$usage"
    [ -n "$san" ] && echo "subjectAltName=$san"
  } >"$T/$name.ext"
  quiet openssl ca -batch -config "$T/db/ca.cnf" -in "$T/$name.csr" -out "$T/$name.pem" \
    -startdate "$start" -enddate "$end" -extfile "$T/$name.ext" -notext
  rm -f "$T/$name.csr"
}

NOW_START=20200101000000Z
LATER=20491231235959Z
sign server irc.localhost "DNS:localhost,DNS:irc.localhost,IP:127.0.0.1" $NOW_START $LATER
sign expired localhost "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20210101000000Z
sign wronghost wrong.example "DNS:wrong.example" $NOW_START $LATER
sign ipsan wrong.example "IP:127.0.0.1" $NOW_START $LATER
sign cnonly localhost "" $NOW_START $LATER
sign wildcard wild.localhost "DNS:*.wild.localhost" $NOW_START $LATER
sign client lumenwick-client "" $NOW_START $LATER clientAuth
cat "$T/client.pem" "$T/client.key" >"$T/client-combined.pem"
mv "$T/client-combined.pem" "$T/client.pem"

newkey "$T/selfsigned.key"
quiet openssl req -x509 -new -key "$T/selfsigned.key" -days 3650 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -out "$T/selfsigned.pem"

# ffdhe2048 from RFC 7919: fixed parameters, so no slow generation.
quiet openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out "$T/dhparams.pem"

chmod 600 "$T"/*.key "$T/client.pem"
echo ok >"$T/done"
echo "certificates in $T"
