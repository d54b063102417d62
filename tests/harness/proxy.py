#!/usr/bin/env python3
"""Small proxies and listeners of our own for the connection tests.

One mode per process, listening on 127.0.0.1 on a port the kernel chooses (written
to --port-file once listening). Standard library only. Whatever the client asks
for, every relayed connection goes to 127.0.0.1 and nowhere else.

Modes:
  wingate             reads "host port\\r\\n", then relays to 127.0.0.1:port (any host
                      name is accepted, so a TLS host-name check can be driven with
                      names that resolve nowhere)
  socks4              SOCKS4 CONNECT, relays to 127.0.0.1:port
  socks5-demand-auth  SOCKS5 that always chooses user/password authentication
  socks5-refuse       SOCKS5 that refuses every CONNECT with reply code 2 (not allowed)
  socks5-short        SOCKS5 that answers one byte of its method choice and hangs up
  socks5-short-bound  SOCKS5 that accepts the CONNECT but cuts the bound address short
  http-forge          HTTP proxy refusing with a status line padded (--pad) so that
                      its tail looks like a child-pipe message; also answers a second
                      header-like line with pipe codes
  http-short          HTTP proxy sending "HTTP/1.0 20" and hanging up
  silent              accepts and never sends a byte (a TLS server that never answers)

Every event goes to standard output, one line each: ACCEPT, REQUEST <repr>, RELAY, CLOSE.
"""
import argparse
import os
import socket
import struct
import sys
import threading

LOOPBACK = "127.0.0.1"
# A bounded wait for anything the client sends: a client that stalls must not
# keep a proxy thread forever.
CLIENT_TIMEOUT = 60.0


def log(*parts):
    print(*parts, flush=True)


def recv_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            break
        data += chunk
    return data


def recv_line(conn, limit=1024):
    data = b""
    while not data.endswith(b"\n") and len(data) < limit:
        ch = conn.recv(1)
        if not ch:
            break
        data += ch
    return data


def recv_http_request(conn):
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data and len(data) < 8192:
        chunk = conn.recv(1024)
        if not chunk:
            break
        data += chunk
    return data


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (dst,):
        try:
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def relay(conn, port):
    try:
        upstream = socket.create_connection((LOOPBACK, port), timeout=10)
    except OSError as e:
        log("UPSTREAM-FAILED", port, e)
        return False, None
    upstream.settimeout(None)
    log("RELAY", port)
    return True, upstream


def run_relay(conn, upstream):
    t = threading.Thread(target=pump, args=(upstream, conn), daemon=True)
    t.start()
    pump(conn, upstream)
    t.join(timeout=CLIENT_TIMEOUT)
    upstream.close()


def hold(conn):
    """Keeps the connection open, reading and dropping, until the peer goes."""
    conn.settimeout(None)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def serve_wingate(conn, args):
    line = recv_line(conn, 512)
    log("REQUEST", repr(line))
    words = line.decode("latin-1").split()
    if len(words) != 2 or not words[1].isdigit():
        return
    ok, upstream = relay(conn, int(words[1]))
    if ok:
        run_relay(conn, upstream)


def serve_socks4(conn, args):
    head = recv_exact(conn, 8)
    userid = b""
    while len(userid) < 256:
        ch = conn.recv(1)
        if not ch or ch == b"\0":
            break
        userid += ch
    log("REQUEST", repr(head), "user", repr(userid))
    if len(head) < 8 or head[0] != 4 or head[1] != 1:
        conn.sendall(b"\0\x5b" + b"\0" * 6)
        return
    port = struct.unpack("!H", head[2:4])[0]
    ok, upstream = relay(conn, port)
    if not ok:
        conn.sendall(b"\0\x5b" + b"\0" * 6)
        return
    conn.sendall(b"\0\x5a" + head[2:8])
    run_relay(conn, upstream)


def serve_socks5(conn, args):
    greeting = recv_exact(conn, 2)
    methods = recv_exact(conn, greeting[1]) if len(greeting) == 2 else b""
    log("REQUEST", repr(greeting + methods))
    if args.mode == "socks5-demand-auth":
        conn.sendall(b"\x05\x02")
        hold(conn)
        return
    if args.mode == "socks5-short":
        conn.sendall(b"\x05")
        return
    conn.sendall(b"\x05\x00")
    req = recv_exact(conn, 4)
    if len(req) < 4:
        return
    if req[3] == 3:
        n = recv_exact(conn, 1)
        host = recv_exact(conn, n[0]) if n else b""
    elif req[3] == 1:
        host = recv_exact(conn, 4)
    else:
        host = recv_exact(conn, 16)
    port = recv_exact(conn, 2)
    log("CONNECT", repr(host), repr(port))
    if args.mode == "socks5-refuse":
        conn.sendall(b"\x05\x02\x00\x01" + b"\0" * 6)
        hold(conn)
        return
    # socks5-short-bound: success, an IPv4 bound address cut after two bytes.
    conn.sendall(b"\x05\x00\x00\x01\x7f\x00")


def forged_status(pad):
    # A refusal whose status line is `pad` bytes of text followed by a "4": a reader
    # that reads the line in pieces of `pad` bytes sees a lone "4" (connected), and
    # then takes whatever code follows as a socket descriptor.
    text = "HTTP/1.0 403 Forbidden "
    return (text + "x" * (pad - len(text)) + "4\r\n").encode()


def serve_http(conn, args):
    request = recv_http_request(conn)
    log("REQUEST", repr(request))
    if args.mode == "http-short":
        conn.sendall(b"HTTP/1.0 20")
        return
    conn.sendall(forged_status(args.pad) + b"4\r\n3\r\n\r\n")
    hold(conn)


def serve_silent(conn, args):
    hold(conn)


HANDLERS = {
    "wingate": serve_wingate,
    "socks4": serve_socks4,
    "socks5-demand-auth": serve_socks5,
    "socks5-refuse": serve_socks5,
    "socks5-short": serve_socks5,
    "socks5-short-bound": serve_socks5,
    "http-forge": serve_http,
    "http-short": serve_http,
    "silent": serve_silent,
}


def handle(conn, args):
    log("ACCEPT")
    conn.settimeout(CLIENT_TIMEOUT)
    try:
        HANDLERS[args.mode](conn, args)
    except OSError as e:
        log("ERROR", e)
    finally:
        conn.close()
        log("CLOSE")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--mode", required=True, choices=sorted(HANDLERS))
    p.add_argument("--port", type=int, default=0, help="port to listen on (default: chosen by the kernel)")
    p.add_argument("--port-file", help="written with the port once listening")
    p.add_argument("--pad", type=int, default=127, help="http-forge: bytes before the forged code")
    args = p.parse_args()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((LOOPBACK, args.port))
    srv.listen(16)
    port = srv.getsockname()[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, args.port_file)
    log("LISTEN", port, args.mode)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=handle, args=(conn, args), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
