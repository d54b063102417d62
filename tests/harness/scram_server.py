#!/usr/bin/env python3
"""A scripted IRC server that speaks the server side of SASL SCRAM (RFC 5802, RFC 7677)
with SCRAM-SHA-1, SCRAM-SHA-256 and SCRAM-SHA-512, using hashlib/hmac only.

Listens on 127.0.0.1 (port chosen by the kernel) and prints, one line each, flushed:
  LISTEN <port>
  RECV <line>             every line the client sent (AUTHENTICATE payloads included)
  SASL <mech> <verdict>   success | bad-proof | unknown-user | aborted | unsupported
  EOF
It serves one client, then exits; end of standard input or --max-time ends it earlier.

  --account NAME --password PW      the one account it knows
  --iterations N                    the "i=" it announces (hostile values welcome)
  --bad-signature                   sends a server signature that is wrong
  --long-nonce                      pads the server nonce so that the server-first message
                                    is sent in 400-byte AUTHENTICATE pieces
  --mechanisms LIST                 the mechanisms it knows (default all three SCRAM digests)
  --bare-sasl                       offers "sasl" without its list (an older server): a client
                                    asking for another mechanism gets 908 and 904
"""
import argparse
import base64
import hashlib
import hmac
import os
import select
import socket
import sys
import time

DIGESTS = {"SCRAM-SHA-1": "sha1", "SCRAM-SHA-256": "sha256", "SCRAM-SHA-512": "sha512"}
NAME = "scram.test"
CHUNK = 400


def out(*parts):
    sys.stdout.write(" ".join(str(p) for p in parts) + "\n")
    sys.stdout.flush()


def unescape(name):
    return name.replace("=2C", ",").replace("=3D", "=")


class Session:
    def __init__(self, sock, args):
        self.sock, self.args = sock, args
        self.nick = "*"
        self.registered = False
        self.cap_ended = False
        self.user_seen = False
        self.mech = None
        self.state = 0
        self.pending = ""

    def send(self, line):
        self.sock.sendall(line.encode() + b"\r\n")

    def numeric(self, num, text):
        self.send(":%s %s %s %s" % (NAME, num, self.nick, text))

    def authenticate(self, raw):
        b = base64.b64encode(raw.encode()).decode()
        for i in range(0, len(b), CHUNK):
            self.send("AUTHENTICATE " + b[i:i + CHUNK])
        if len(b) % CHUNK == 0:
            self.send("AUTHENTICATE +")

    def verdict(self, what, num, text):
        out("SASL", self.mech, what)
        self.numeric(num, text)
        self.mech, self.state = None, 0

    def sasl_message(self, message):
        args, digest = self.args, DIGESTS[self.mech]
        if self.state == 0:
            gs2, _, bare = message.partition(",,")
            attrs = dict(kv.split("=", 1) for kv in bare.split(",") if "=" in kv)
            self.first_bare = bare
            if gs2 != "n" or unescape(attrs.get("n", "")) != args.account:
                return self.verdict("unknown-user", "904", ":SASL authentication failed")
            nonce = attrs["r"] + base64.b64encode(os.urandom(12)).decode()
            if args.long_nonce:
                nonce += "x" * 700
            salt = os.urandom(16)
            self.nonce = nonce
            self.server_first = "r=%s,s=%s,i=%s" % (nonce, base64.b64encode(salt).decode(), args.iterations)
            try:
                rounds = int(args.iterations)
                ok_rounds = 0 < rounds <= 1000000
            except ValueError:
                ok_rounds = False
            # A hostile count is only announced: the client must refuse it first.
            self.salted = hashlib.pbkdf2_hmac(digest, args.password.encode(), salt, rounds) if ok_rounds else b""
            self.state = 1
            return self.authenticate(self.server_first)
        if self.state == 1:
            without_proof, _, proof = message.rpartition(",p=")
            if without_proof != "c=biws,r=" + self.nonce:
                return self.verdict("bad-proof", "904", ":SASL authentication failed")
            auth = ",".join((self.first_bare, self.server_first, without_proof)).encode()
            client_key = hmac.new(self.salted, b"Client Key", digest).digest()
            stored = hashlib.new(digest, client_key).digest()
            signature = hmac.new(stored, auth, digest).digest()
            given = base64.b64decode(proof)
            recovered = bytes(a ^ b for a, b in zip(given, signature))
            if len(given) != len(signature) or hashlib.new(digest, recovered).digest() != stored:
                return self.verdict("bad-proof", "904", ":SASL authentication failed")
            server_key = hmac.new(self.salted, b"Server Key", digest).digest()
            v = hmac.new(server_key, auth, digest).digest()
            if self.args.bad_signature:
                v = bytes([v[0] ^ 1]) + v[1:]
            self.state = 2
            return self.authenticate("v=" + base64.b64encode(v).decode())
        # The client accepted our signature ("+") or gave up ("*", handled before).
        self.numeric("900", "%s!u@127.0.0.1 %s :You are now logged in as %s" % (self.nick, self.args.account,
                                                                                  self.args.account))
        self.verdict("success", "903", ":SASL authentication successful")

    def handle(self, line):
        words = line.split(" ")
        cmd = words[0].upper()
        if cmd == "CAP" and len(words) > 1 and words[1] == "LS":
            sasl = "sasl" if self.args.bare_sasl else "sasl=" + self.args.mechanisms
            self.send(":%s CAP * LS :multi-prefix %s" % (NAME, sasl))
        elif cmd == "CAP" and len(words) > 2 and words[1] == "REQ":
            self.send(":%s CAP %s ACK %s" % (NAME, self.nick, " ".join(words[2:])))
        elif cmd == "CAP" and len(words) > 1 and words[1] == "END":
            self.cap_ended = True
        elif cmd == "NICK" and len(words) > 1:
            self.nick = words[1]
        elif cmd == "USER":
            self.user_seen = True
        elif cmd == "PING" and len(words) > 1:
            self.send(":%s PONG %s %s" % (NAME, NAME, words[1]))
        elif cmd == "AUTHENTICATE" and len(words) > 1:
            data = words[1]
            if self.mech is None:
                if data in DIGESTS and data in self.args.mechanisms.split(","):
                    self.mech, self.state, self.pending = data, 0, ""
                    self.send("AUTHENTICATE +")
                else:
                    out("SASL", data, "unsupported")
                    self.numeric("908", "%s :are available SASL mechanisms" % self.args.mechanisms)
                    self.numeric("904", ":SASL authentication failed")
                return
            if data == "*":
                return self.verdict("aborted", "906", ":SASL authentication aborted")
            if len(data) == CHUNK:
                self.pending += data
                return
            message = self.pending + ("" if data == "+" else data)
            self.pending = ""
            self.sasl_message(base64.b64decode(message).decode() if message else "")
        if self.cap_ended and self.user_seen and not self.registered and self.nick != "*":
            self.registered = True
            self.numeric("001", ":Welcome to the SCRAM test server %s" % self.nick)
            self.numeric("376", ":End of /MOTD command.")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--account", default="scramuser")
    p.add_argument("--password", default="scram pass")
    p.add_argument("--iterations", default="4096")
    p.add_argument("--bad-signature", action="store_true")
    p.add_argument("--long-nonce", action="store_true")
    p.add_argument("--mechanisms", default="SCRAM-SHA-1,SCRAM-SHA-256,SCRAM-SHA-512")
    p.add_argument("--bare-sasl", action="store_true")
    p.add_argument("--max-time", type=float, default=120)
    args = p.parse_args()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    out("LISTEN", listener.getsockname()[1])
    end = time.monotonic() + args.max_time
    conn, session, buf = None, None, b""
    watched = [listener, sys.stdin]
    while time.monotonic() < end:
        ready, _, _ = select.select(watched, [], [], 0.2)
        for r in ready:
            if r is sys.stdin:
                if not sys.stdin.buffer.read1(4096):
                    return 0
            elif r is listener:
                conn, _ = listener.accept()
                session = Session(conn, args)
                watched = [conn, sys.stdin]
                listener.close()
            else:
                data = conn.recv(4096)
                if not data:
                    out("EOF")
                    return 0
                buf += data
                while b"\n" in buf:
                    raw, buf = buf.split(b"\n", 1)
                    line = raw.rstrip(b"\r").decode(errors="replace")
                    out("RECV", line)
                    try:
                        session.handle(line)
                    except Exception as e:  # a broken client message ends the login, not the server
                        out("ERROR", repr(e))
                        session.verdict("bad-proof", "904", ":SASL authentication failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
