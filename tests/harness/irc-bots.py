#!/usr/bin/env python3
"""IRC bots on 127.0.0.1 driven line by line from standard input.

Usage: irc-bots.py PORT

Commands (one per line):
  connect NICK...      connect and register each bot at once; prints "ready NICK" per bot
  send NICK RAW LINE   send one raw line as that bot
  close NICK           drop the bot's connection
Every command is answered with "ok N" (N counts commands) once it is done,
and every line a bot receives is printed as "NICK< LINE". PINGs are answered.
End of input closes every bot. Standard library only; every wait is bounded.
"""
import asyncio
import sys

HOST = "127.0.0.1"
REGISTER_TIMEOUT = 15


def out(text):
    print(text, flush=True)


class Bot:
    def __init__(self, nick):
        self.nick = nick
        self.reader = None
        self.writer = None
        self.welcomed = asyncio.Event()
        self.task = None

    async def connect(self, port):
        self.reader, self.writer = await asyncio.open_connection(HOST, port)
        # InspIRCd holds registration after CAP LS until CAP END.
        self.send(f"CAP LS 302\r\nNICK {self.nick}\r\nUSER {self.nick} 0 * :{self.nick} bot\r\nCAP END")
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
                    break
                text = line.decode("utf-8", "replace").rstrip("\r\n")
                words = text.split(" ")
                if words[0] == "PING":
                    self.send("PONG " + " ".join(words[1:]))
                    continue
                if len(words) > 1 and words[1] == "001":
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
    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    count = 0
    while True:
        line = await reader.readline()
        if not line:
            break
        words = line.decode().rstrip("\n").split(" ", 2)
        count += 1
        try:
            if words[0] == "connect":
                new = [Bot(n) for n in line.decode().split()[1:]]
                for b in new:
                    bots[b.nick] = b
                await asyncio.gather(*(b.connect(port) for b in new))
            elif words[0] == "send":
                bots[words[1]].send(words[2])
                await bots[words[1]].writer.drain()
            elif words[0] == "close":
                await bots.pop(words[1]).close()
            out(f"ok {count}")
        except Exception as e:  # reported, and the test decides
            out(f"error {count} {e!r}")
    for b in bots.values():
        await b.close()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1])))
