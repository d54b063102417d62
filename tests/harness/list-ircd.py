#!/usr/bin/env python3
"""A small IRC server with a channel list and ban lists, for the list windows.

Usage: list-ircd.py CHANNELS

Listens on 127.0.0.1 (port chosen by the kernel) and serves one client at a time:
  - registration: 001, an ISUPPORT line with CHANMODES=beIq,k,l,imnt EXCEPTS INVEX ELIST=U,
    and the end of the MOTD;
  - LIST: CHANNELS 322 replies ("#chanNNNNN", 5 + N % 300 users, a coloured topic), then 323;
  - JOIN #c: the join echo, NAMES with the client as operator;
  - MODE #c +b / +e / +I / +q: three bans (set at different times), one exception, no
    invites, one quiet, each list with its end numeric.
Reports on standard output, one line each, flushed:
  LISTEN <port>
  GOT <line>                         every line the client sent
Ends when standard input closes. Standard library only.
"""
import os
import select
import socket
import sys

SERVER = ":list.test "


def out(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def main():
    channels = int(sys.argv[1]) if len(sys.argv) > 1 else 100
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    out("LISTEN %d" % srv.getsockname()[1])
    conn, buf, nick = None, b"", "tester"

    def send(text):
        conn.sendall(text.encode("utf-8"))

    def handle(line):
        nonlocal nick
        out("GOT " + line)
        words = line.split(" ")
        cmd = words[0].upper()
        if cmd == "NICK" and len(words) > 1:
            nick = words[1]
        elif cmd == "USER":
            send(SERVER + "001 %s :Welcome\r\n" % nick)
            send(SERVER + "005 %s CHANTYPES=# PREFIX=(ov)@+ CHANMODES=beIq,k,l,imnt EXCEPTS INVEX ELIST=U "
                 "MODES=4 :are supported\r\n" % nick)
            send(SERVER + "376 %s :End of MOTD\r\n" % nick)
        elif cmd == "PING":
            send(SERVER + "PONG list.test :%s\r\n" % (words[1].lstrip(":") if len(words) > 1 else ""))
        elif cmd == "LIST":
            chunk = []
            for i in range(channels):
                chunk.append(SERVER + "322 %s #chan%05d %d :\x0304topic\x03 of \x02%d\x02\r\n" % (nick, i, 5 + i % 300, i))
                if len(chunk) == 1000:
                    send("".join(chunk))
                    chunk = []
            send("".join(chunk) + SERVER + "323 %s :End of /LIST\r\n" % nick)
        elif cmd == "JOIN" and len(words) > 1:
            chan = words[1]
            send(":%s!u@client.test JOIN %s\r\n" % (nick, chan))
            send(SERVER + "353 %s = %s :@%s bob\r\n" % (nick, chan, nick))
            send(SERVER + "366 %s %s :End of /NAMES list.\r\n" % (nick, chan))
        elif cmd == "MODE" and len(words) == 3:
            chan, query = words[1], words[2]
            if query == "+b":
                for mask, when in (("old!*@*", 1600000000), ("newest!*@*", 1700000000), ("mid!*@*", 1650000000)):
                    send(SERVER + "367 %s %s %s op!u@h %d\r\n" % (nick, chan, mask, when))
                send(SERVER + "368 %s %s :End of Channel Ban List\r\n" % (nick, chan))
            elif query == "+e":
                send(SERVER + "348 %s %s friend!*@* op!u@h 1650000000\r\n" % (nick, chan))
                send(SERVER + "349 %s %s :End of Channel Exception List\r\n" % (nick, chan))
            elif query == "+I":
                send(SERVER + "347 %s %s :End of Channel Invite List\r\n" % (nick, chan))
            elif query == "+q":
                send(SERVER + "728 %s %s q quiet!*@* op!u@h 1650000000\r\n" % (nick, chan))
                send(SERVER + "729 %s %s q :End of Channel Quiet List\r\n" % (nick, chan))

    while True:
        watch = [srv, sys.stdin] + ([conn] if conn else [])
        ready, _, _ = select.select(watch, [], [], 1.0)
        if sys.stdin in ready and not os.read(sys.stdin.fileno(), 4096):
            return
        if srv in ready:
            if conn:
                conn.close()
            conn, _ = srv.accept()
            buf = b""
        if conn and conn in ready:
            data = conn.recv(65536)
            if not data:
                conn.close()
                conn = None
                continue
            buf += data
            while b"\n" in buf:
                raw, buf = buf.split(b"\n", 1)
                handle(raw.rstrip(b"\r").decode("utf-8", "replace"))


if __name__ == "__main__":
    main()
