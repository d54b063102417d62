#!/bin/bash
# tls-up.sh DIR KIND... — start TLS endpoints with `openssl s_server` on 127.0.0.1, one per
# KIND, with the certificates of certs.sh; each one's port in DIR/ports/tls-KIND.
#   trusted     CA-signed, SAN localhost, irc.localhost, IP:127.0.0.1
#   selfsigned  self-signed (SAN localhost, IP:127.0.0.1)
#   expired     CA-signed, expired in 2021
#   wronghost   CA-signed for wrong.example only
#   ipsan       CA-signed, SAN IP:127.0.0.1 only (CN wrong.example)
#   cnonly      CA-signed, no SAN, CN localhost
#   wildcard    CA-signed, SAN *.wild.localhost only
#   tls11       the trusted certificate, but TLS 1.1 and nothing else
#   clientcert  the trusted certificate; a client certificate signed by the test CA is required
#   silent      accepts and never answers (proxy.py, not openssl)
# What a client sends arrives on the endpoint's standard output, DIR/tls-run/KIND.out;
# what is written to the FIFO DIR/tls-run/KIND.in is sent to the client.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
shift
[ $# -gt 0 ] || die "usage: tls-up.sh DIR KIND..."
command -v openssl >/dev/null || die "openssl not installed"
"$HARNESS_DIR/certs.sh" "$DIR" >/dev/null
T="$DIR/tls"
R="$DIR/tls-run"
mkdir -p "$R"

KIND=
OPTS=()
s_server() { # PORT — started with the settings of $KIND
  local fifo="$R/$KIND.in"
  [ -p "$fifo" ] || mkfifo "$fifo"
  # Read-write on the FIFO: s_server never sees the end of its input (which would make
  # it stop accepting), and writers can open it at any time.
  (setsid openssl s_server -accept "127.0.0.1:$1" "${OPTS[@]}" <>"$fifo" >"$R/$KIND.out" 2>&1 &
    echo $! >"$R/$KIND.pid")
}

for KIND in "$@"; do
  if [ "$KIND" = silent ]; then
    "$HARNESS_DIR/proxy-up.sh" "$DIR" silent >/dev/null
    record_port "$DIR" tls-silent "$(port_of "$DIR" silent)"
    echo "tls-silent 127.0.0.1:$(port_of "$DIR" silent)"
    continue
  fi
  if pid_alive "$R/$KIND.pid" openssl; then
    echo "tls-$KIND already running: pid $(cat "$R/$KIND.pid") 127.0.0.1:$(port_of "$DIR" "tls-$KIND")"
    continue
  fi
  cert="$KIND"
  case "$KIND" in
    trusted | tls11 | clientcert) cert=server ;;
    selfsigned | expired | wronghost | ipsan | cnonly | wildcard) ;;
    *) die "unknown TLS endpoint $KIND" ;;
  esac
  OPTS=(-cert "$T/$cert.pem" -key "$T/$cert.key" -no_dhe)
  case "$KIND" in
    # OpenSSL 3 allows TLS 1.1 only at security level 0.
    tls11) OPTS+=(-tls1_1 -cipher "DEFAULT:@SECLEVEL=0") ;;
    clientcert) OPTS+=(-Verify 1 -CAfile "$T/clientca.pem" -verify_return_error) ;;
  esac
  STARTED_PORT=
  start_listener "$KIND" openssl "$R" "" s_server
  record_port "$DIR" "tls-$KIND" "$STARTED_PORT"
  echo "tls-$KIND pid $(cat "$R/$KIND.pid") 127.0.0.1:$STARTED_PORT"
done
