#!/usr/bin/env python3
"""IRC bots on 127.0.0.1 driven line by line from standard input; they record the
exact lines they receive, tags included.

Usage: irc-bots.py PORT

Bots connected after a "caps" command request those IRCv3 capabilities, so that a
bot sees message tags (TAGMSG, +reply, +typing) and away-notify lines.
Commands (one per line):
  caps CAP[,CAP...]|-  capabilities the next bots request ("-": none, the default)
  connect NICK...      connect and register each bot at once; prints "ready NICK" per bot
  send NICK RAW LINE   send one raw line as that bot
  close NICK           drop the bot's connection
Every command is answered with "ok N" (N counts commands) once it is done, or
"error N ..." when it failed; every line a bot receives is printed as "NICK< LINE"
exactly as it arrived, without its line end. PINGs are answered. End of input closes
every bot. Standard library only; every wait is bounded.
"""
import asyncio
import sys

HOST = "127.0.0.1"
REGISTER_TIMEOUT = 15


def out(text):
    print(text, flush=True)


class Bot:
    def __init__(self, nick, caps):
        self.nick = nick
        self.caps = caps
        self.reader = None
        self.writer = None
        self.welcomed = asyncio.Event()
        self.task = None

    async def connect(self, port):
        self.reader, self.writer = await asyncio.open_connection(HOST, port)
        lines = ["CAP LS 302", f"NICK {self.nick}", f"USER {self.nick} 0 * :{self.nick} peer"]
        if self.caps:
            lines.append("CAP REQ :" + " ".join(self.caps))
        # InspIRCd holds registration after CAP LS until CAP END.
        lines.append("CAP END")
        for line in lines:
            self.send(line)
        self.task = asyncio.ensure_future(self.read_loop())
        await asyncio.wait_for(self.welcomed.wait(), REGISTER_TIMEOUT)
        out(f"ready {self.nick}")

    def send(self, raw):
        if self.writer:
            self.writer.write((raw + "\r\n").encode())

    async def read_loop(self):
        try:
            while True:
                line = await self.reader.readline()
                if not line:
                    out(f"{self.nick}< (closed)")
                    break
                text = line.decode("utf-8", "replace").rstrip("\r\n")
                words = text.split(" ")
                if words[0] == "PING":
                    self.send("PONG " + " ".join(words[1:]))
                    continue
                # The numeric is the second word, or the third after a tag section.
                core = words[1:] if words[0].startswith("@") else words
                if len(core) > 1 and core[1] == "001":
                    self.welcomed.set()
                out(f"{self.nick}< {text}")
        except (ConnectionError, asyncio.CancelledError):
            pass

    async def close(self):
        if self.writer:
            self.writer.close()
            try:
                await asyncio.wait_for(self.writer.wait_closed(), 5)
            except (asyncio.TimeoutError, ConnectionError):
                pass
            self.writer = None
        if self.task:
            self.task.cancel()


async def main(port):
    bots = {}
    caps = []
    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    count = 0
    while True:
        line = await reader.readline()
        if not line:
            break
        text = line.decode().rstrip("\n")
        words = text.split(" ", 2)
        count += 1
        try:
            if words[0] == "caps":
                caps = [] if words[1] == "-" else words[1].split(",")
            elif words[0] == "connect":
                new = [Bot(n, caps) for n in text.split()[1:]]
                for b in new:
                    bots[b.nick] = b
                await asyncio.gather(*(b.connect(port) for b in new))
            elif words[0] == "send":
                bots[words[1]].send(words[2])
                await bots[words[1]].writer.drain()
            elif words[0] == "close":
                await bots.pop(words[1]).close()
            else:
                raise ValueError("unknown command " + words[0])
            out(f"ok {count}")
        except Exception as e:  # reported, and the test decides
            out(f"error {count} {e!r}")
    for b in bots.values():
        await b.close()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1])))
