#!/usr/bin/env python3
"""Checks a running harness from the outside, with plain sockets and Python's ssl module.

Usage: probe.py DIR — expects everything of selftest.sh up in DIR (ports in DIR/ports).
Prints one PASS/FAIL line per check and exits 1 if any failed. Standard library only.
"""
import base64
import os
import socket
import ssl
import struct
import sys
import time

DIR = sys.argv[1] if len(sys.argv) > 1 else sys.exit(__doc__)
TIMEOUT = 10
results = []


def port(name):
    with open(os.path.join(DIR, "ports", name)) as f:
        return int(f.read())


def check(name, fn):
    start = time.monotonic()
    try:
        detail = fn()
        ok = detail is not False
    except Exception as e:  # a failed check, whatever broke
        ok, detail = False, repr(e)
    results.append(ok)
    extra = "" if detail in (None, True, False) else f" ({detail})"
    print(f"{'PASS' if ok else 'FAIL'} {name}{extra} [{time.monotonic() - start:.2f}s]", flush=True)


def connect(name):
    return socket.create_connection(("127.0.0.1", port(name)), timeout=TIMEOUT)


def registers(sock, nick):
    """NICK/USER with CAP END (InspIRCd holds registration after CAP LS) until 001."""
    sock.sendall(f"CAP LS 302\r\nNICK {nick}\r\nUSER probe 0 * :probe\r\nCAP END\r\n".encode())
    data = b""
    while b" 001 " not in data:
        chunk = sock.recv(4096)
        if not chunk:
            raise ConnectionError(f"closed before 001: {data[-200:]!r}")
        data += chunk
    return True


def socks5(name, user=None, password=None, method=0):
    s = connect(name)
    s.sendall(bytes([5, 1, method]))
    chosen = s.recv(2)
    if user is not None:
        s.sendall(bytes([1, len(user)]) + user.encode() + bytes([len(password)]) + password.encode())
        if s.recv(2) != b"\x01\x00":
            raise ConnectionError("authentication refused")
    elif chosen != b"\x05\x00":
        return s, chosen
    host = b"localhost"
    s.sendall(b"\x05\x01\x00\x03" + bytes([len(host)]) + host + struct.pack("!H", port("irc")))
    reply = s.recv(10)
    if reply[:2] != b"\x05\x00":
        raise ConnectionError(f"CONNECT refused: {reply!r}")
    return s, chosen


def http_connect(name, credentials=None):
    s = connect(name)
    auth = ""
    if credentials:
        auth = "Proxy-Authorization: Basic " + base64.b64encode(credentials.encode()).decode() + "\r\n"
    s.sendall(f"CONNECT 127.0.0.1:{port('irc')} HTTP/1.0\r\n{auth}\r\n".encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(1)
        if not chunk:
            break
        head += chunk
    return s, head.split(b"\r\n", 1)[0].decode()


def tls_client(kind, host="localhost", cert=None, via_wingate=False):
    ctx = ssl.create_default_context(cafile=os.path.join(DIR, "tls", "ca.pem"))
    if cert:
        ctx.load_cert_chain(cert)
    if via_wingate:
        raw = connect("wingate")
        raw.sendall(f"{host} {port('tls-' + kind)}\r\n".encode())
    else:
        raw = connect("tls-" + kind)
    s = ctx.wrap_socket(raw, server_hostname=host)
    s.sendall(b"NICK probe\r\n")
    return s.version()


def refused(fn, *args, **kw):
    try:
        fn(*args, **kw)
    except (ssl.SSLError, ConnectionError, OSError) as e:
        return str(e)[:80]
    raise AssertionError("accepted")


def main():
    check("InspIRCd plain port registers", lambda: registers(connect("irc"), "probe1"))
    check("InspIRCd TLS port, verified with the test CA (SNI localhost)",
          lambda: registers(ssl.create_default_context(cafile=os.path.join(DIR, "tls", "ca.pem"))
                            .wrap_socket(connect("irc-tls"), server_hostname="localhost"), "probe2"))
    check("SOCKS5 (microsocks) reaches the ircd", lambda: registers(socks5("socks5")[0], "probe3"))
    check("SOCKS5 with user/password reaches the ircd",
          lambda: registers(socks5("socks5-auth", "proxyuser", "proxypass", 2)[0], "probe4"))
    check("SOCKS5 with user/password refuses no-auth", lambda: socks5("socks5-auth")[1] == b"\x05\xff")
    check("SOCKS4 (dante) reaches the ircd", lambda: socks4_registers())
    check("HTTP CONNECT (tinyproxy) reaches the ircd", lambda: http_registers("http", None, "probe6"))
    check("HTTP CONNECT with Basic auth reaches the ircd",
          lambda: http_registers("http-auth", "proxyuser:proxypass", "probe7"))
    check("HTTP CONNECT answers 407 without credentials", lambda: " 407 " in http_connect("http-auth")[1])
    check("Wingate reaches the ircd", lambda: wingate_registers())
    check("TLS trusted: accepted", lambda: tls_client("trusted"))
    check("TLS trusted by IP (IP SAN): accepted", lambda: tls_client("trusted", "127.0.0.1"))
    check("TLS self-signed: refused", lambda: refused(tls_client, "selfsigned"))
    check("TLS expired: refused", lambda: refused(tls_client, "expired"))
    check("TLS wrong host: refused", lambda: refused(tls_client, "wronghost"))
    check("TLS IP-only SAN by IP: accepted", lambda: tls_client("ipsan", "127.0.0.1"))
    check("TLS IP-only SAN by name: refused", lambda: refused(tls_client, "ipsan"))
    check("TLS wildcard irc.wild.localhost via Wingate: accepted",
          lambda: tls_client("wildcard", "irc.wild.localhost", via_wingate=True))
    check("TLS wildcard wild.localhost via Wingate: refused",
          lambda: refused(tls_client, "wildcard", "wild.localhost", via_wingate=True))
    check("TLS 1.1 only: refused by a TLS 1.2 client", lambda: refused(tls_client, "tls11"))
    check("TLS client certificate required: refused without",
          lambda: refused(lambda: tls_client_roundtrip("clientcert")))
    check("TLS client certificate required: accepted with DIR/tls/client.pem",
          lambda: tls_client_roundtrip("clientcert", os.path.join(DIR, "tls", "client.pem")))
    check("silent TLS listener never answers", lambda: silent())
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


def socks4_registers():
    s = connect("socks4")
    s.sendall(b"\x04\x01" + struct.pack("!H", port("irc")) + bytes([127, 0, 0, 1]) + b"probe\0")
    if s.recv(8)[:2] != b"\x00\x5a":
        raise ConnectionError("SOCKS4 request refused")
    return registers(s, "probe5")


def http_registers(name, credentials, nick):
    s, status = http_connect(name, credentials)
    if " 200 " not in status:
        raise ConnectionError(status)
    return registers(s, nick)


def wingate_registers():
    s = connect("wingate")
    s.sendall(f"127.0.0.1 {port('irc')}\r\n".encode())
    return registers(s, "probe8")


def tls_client_roundtrip(kind, cert=None):
    """With TLS 1.3 a missing client certificate shows only when reading."""
    ctx = ssl.create_default_context(cafile=os.path.join(DIR, "tls", "ca.pem"))
    if cert:
        ctx.load_cert_chain(cert)
    s = ctx.wrap_socket(connect("tls-" + kind), server_hostname="localhost")
    s.sendall(b"NICK probe\r\n")
    s.settimeout(1)
    try:
        if s.recv(10) == b"":
            raise ConnectionError("closed by the server")
    except socket.timeout:
        pass  # still open: accepted
    return s.version()


def silent():
    s = connect("tls-silent")
    s.settimeout(1.5)
    try:
        data = s.recv(10)
    except socket.timeout:
        return True
    raise AssertionError(f"answered {data!r}")


if __name__ == "__main__":
    main()
