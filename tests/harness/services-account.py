#!/usr/bin/env python3
"""Raw-socket helper for the services of services-up.sh (standard library only).

  services-account.py --port P wait-sasl [--timeout S]
      exit 0 once the ircd offers the "sasl" capability (retried until the timeout)
  services-account.py --port P register --account A --password PW
      registers A with NickServ (an existing account counts as success)
  services-account.py --port TLSPORT add-cert --account A --password PW --cert FILE
      makes FILE (certificate and key, openssl) unless it exists, logs in over TLS with
      that certificate and SASL PLAIN, and adds its fingerprint with NickServ CERT ADD

Every wait is bounded; exit status 0 on success, 1 with the last lines read on failure.
"""
import argparse
import base64
import os
import socket
import ssl
import subprocess
import sys
import time


class Client:
    def __init__(self, port, tls=False, cert=None, timeout=10.0):
        self.deadline = time.monotonic() + timeout
        sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        if tls:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            ctx.check_hostname = False
            ctx.verify_mode = ssl.CERT_NONE
            if cert:
                ctx.load_cert_chain(cert)
            sock = ctx.wrap_socket(sock, server_hostname="localhost")
        self.sock = sock
        self.buf = b""
        self.seen = []

    def send(self, line):
        self.sock.sendall(line.encode() + b"\r\n")

    def line(self):
        while b"\n" not in self.buf:
            left = self.deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer in time")
            self.sock.settimeout(left)
            data = self.sock.recv(4096)
            if not data:
                raise ConnectionError("the server closed the connection")
            self.buf += data
        raw, self.buf = self.buf.split(b"\n", 1)
        text = raw.rstrip(b"\r").decode(errors="replace")
        self.seen.append(text)
        if text.startswith("PING "):
            self.send("PONG " + text[5:])
        return text

    def until(self, predicate):
        while True:
            text = self.line()
            if predicate(text):
                return text

    def words(self, text):
        return text.split(" ")

    def close(self):
        try:
            self.send("QUIT")
            self.sock.close()
        except OSError:
            pass


def offers_sasl(port):
    c = Client(port, timeout=3)
    try:
        c.send("CAP LS 302")
        while True:
            w = c.words(c.until(lambda t: " CAP " in t and " LS " in t))
            caps = " ".join(w[4:]).lstrip("*").strip().lstrip(":")
            if any(tok == "sasl" or tok.startswith("sasl=") for tok in caps.split()):
                return True
            if w[4] != "*":
                return False
    finally:
        c.close()


def register(args):
    c = Client(args.port)
    try:
        c.send("NICK " + args.account)
        c.send("USER %s 0 * :harness account" % args.account)
        c.until(lambda t: c.words(t)[1:2] == ["001"])
        c.send("PRIVMSG NickServ :REGISTER %s %s@example.com" % (args.password, args.account))
        c.until(lambda t: "NickServ" in t and ("registered" in t or "is already taken" in t))
    finally:
        c.close()


def add_cert(args):
    if not os.path.exists(args.cert):
        key, crt = args.cert + ".key", args.cert + ".crt"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-nodes", "-days", "3650", "-subj", "/CN=" + args.account, "-keyout", key, "-out", crt],
                       check=True, capture_output=True)
        with open(args.cert, "w") as out:
            out.write(open(crt).read() + open(key).read())
        os.chmod(args.cert, 0o600)
    c = Client(args.port, tls=True, cert=args.cert)
    try:
        c.send("CAP LS 302")
        c.send("NICK " + args.account)
        c.send("USER %s 0 * :harness account" % args.account)
        c.until(lambda t: " LS " in t and c.words(t)[3] == "LS")
        c.send("CAP REQ :sasl")
        c.until(lambda t: " ACK " in t)
        c.send("AUTHENTICATE PLAIN")
        c.until(lambda t: t.startswith("AUTHENTICATE"))
        payload = ("%s\0%s\0%s" % (args.account, args.account, args.password)).encode()
        c.send("AUTHENTICATE " + base64.b64encode(payload).decode())
        c.until(lambda t: c.words(t)[1:2] in (["903"], ["904"]) and (c.words(t)[1] == "903" or fail(c)))
        c.send("CAP END")
        c.until(lambda t: c.words(t)[1:2] == ["001"])
        c.send("PRIVMSG NickServ :CERT ADD")
        c.until(lambda t: "NickServ" in t and ("Added fingerprint" in t or "already on your" in t))
    finally:
        c.close()


def fail(c):
    raise RuntimeError("SASL PLAIN failed")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    sub = p.add_subparsers(dest="what", required=True)
    w = sub.add_parser("wait-sasl")
    w.add_argument("--timeout", type=float, default=15)
    for name in ("register", "add-cert"):
        s = sub.add_parser(name)
        s.add_argument("--account", required=True)
        s.add_argument("--password", required=True)
        if name == "add-cert":
            s.add_argument("--cert", required=True)
    args = p.parse_args()

    if args.what == "wait-sasl":
        end = time.monotonic() + args.timeout
        while time.monotonic() < end:
            try:
                if offers_sasl(args.port):
                    return 0
            except (OSError, TimeoutError, ConnectionError, IndexError):
                pass
            time.sleep(0.5)
        return 1
    try:
        register(args) if args.what == "register" else add_cert(args)
        return 0
    except Exception as e:  # report whatever went wrong with what was read
        sys.stderr.write("%s: %s\n" % (args.what, e))
        return 1


if __name__ == "__main__":
    sys.exit(main())
