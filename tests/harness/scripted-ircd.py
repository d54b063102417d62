#!/usr/bin/env python3
"""A scripted IRC server for exact byte checks, driven line by line on standard input.

Listens on 127.0.0.1 (port chosen by the kernel unless --port). Reports on standard
output, one line each, flushed:
  LISTEN <port>
  ACCEPT <conn>                      a client connected (conn counts from 1)
  LINE <conn> <ms> <hex>             one received line, exact bytes up to and including
                                     its LF; ms since that connection was accepted
  EOF <conn> [<hex of an unterminated tail>]
  SENT <conn> <bytes>                a send command finished
  ERROR <text>
Commands on standard input (they act on the newest connection):
  send <hex>                         write the bytes at once
  split <chunk> <delay_ms> <hex>     write them in pieces of <chunk> bytes, <delay_ms> apart
  close                              hang up on the client
  quit                               stop
End of standard input stops the server too, so it never outlives the test that runs it.
Standard library only.
"""
import argparse
import os
import select
import socket
import sys
import time


def out(*parts):
    sys.stdout.write(" ".join(str(p) for p in parts) + "\n")
    sys.stdout.flush()


class Conn:
    def __init__(self, sock, number):
        self.sock = sock
        self.number = number
        self.start = time.monotonic()
        self.pending = b""

    def ms(self):
        return int((time.monotonic() - self.start) * 1000)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--port", type=int, default=0)
    args = p.parse_args()

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(8)
    out("LISTEN", srv.getsockname()[1])

    conns = []
    counter = 0
    stdin = sys.stdin.buffer.raw if hasattr(sys.stdin.buffer, "raw") else sys.stdin.buffer
    command_buf = b""

    def newest():
        return conns[-1] if conns else None

    def drop(c, reason="EOF"):
        extra = [c.pending.hex()] if c.pending else []
        out(reason, c.number, *extra)
        try:
            c.sock.close()
        except OSError:
            pass
        conns.remove(c)

    def run(command):
        words = command.split()
        if not words:
            return True
        c = newest()
        if words[0] == "quit":
            return False
        if c is None:
            out("ERROR", "no client for", words[0])
            return True
        try:
            if words[0] == "send":
                data = bytes.fromhex(words[1]) if len(words) > 1 else b""
                c.sock.sendall(data)
                out("SENT", c.number, len(data))
            elif words[0] == "split":
                chunk, delay = int(words[1]), int(words[2]) / 1000.0
                data = bytes.fromhex(words[3])
                c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                for i in range(0, len(data), chunk):
                    c.sock.sendall(data[i:i + chunk])
                    time.sleep(delay)
                out("SENT", c.number, len(data))
            elif words[0] == "close":
                c.sock.shutdown(socket.SHUT_RDWR)
                drop(c, "CLOSED")
            else:
                out("ERROR", "unknown command", words[0])
        except (OSError, ValueError, IndexError) as e:
            out("ERROR", e)
        return True

    while True:
        watched = [srv, stdin] + [c.sock for c in conns]
        ready, _, _ = select.select(watched, [], [])
        if srv in ready:
            sock, _ = srv.accept()
            counter += 1
            conns.append(Conn(sock, counter))
            out("ACCEPT", counter)
        if stdin in ready:
            data = os.read(stdin.fileno(), 65536)
            if not data:
                break
            command_buf += data
            while b"\n" in command_buf:
                line, command_buf = command_buf.split(b"\n", 1)
                if not run(line.decode("ascii", "replace")):
                    return
        for c in list(conns):
            if c.sock not in ready:
                continue
            try:
                data = c.sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                drop(c)
                continue
            c.pending += data
            while b"\n" in c.pending:
                line, c.pending = c.pending.split(b"\n", 1)
                out("LINE", c.number, c.ms(), (line + b"\n").hex())


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
