#!/usr/bin/env python3
"""A crowd of IRC clients in one channel, from one asyncio process, driven on stdin.

Usage: bigchan.py PORT [--clients K] [--channel C] [--concurrency N] [--timeout S] [--max-time S]

Connects K members (at most 2000) to the ircd on 127.0.0.1:PORT and joins them all to
one channel. Member 0 joins alone first, so it created the channel and is its operator.
Nicks mix letters of both cases and the characters that RFC 1459 case folding treats
specially ([ ] \\ ^ and their partners), so that the order of a user list means something;
each nick ends in its member number, so no two fold together.

Reports on standard output, one line each, flushed:
  NICKS <nick> <nick> ...            every member, member 0 first
  CROWD up=<n>/<K> secs=<s> failures=<f>
  ok <N> / fail <N> <why>            the answer to the N-th command
Commands on standard input, one a line:
  send NICK RAW LINE                 send one raw line as that member
  quit NICK REASON                   send QUIT and wait until the server closes the link
Members answer PING and throw away everything else. End of input, or --max-time seconds
(default 170), ends every member. Registration takes about a second per batch on InspIRCd
(its once-a-second housekeeping), so K members need K/concurrency seconds. The soft
limit of open files is raised to K+64 when the hard limit allows; otherwise the script
stops at once with a message. Standard library only; every wait is bounded.
"""
import argparse
import asyncio
import resource
import sys
import time

HOST = "127.0.0.1"
MAX_CLIENTS = 2000
# Stems that sort differently under RFC 1459 folding and ASCII folding, in both cases.
STEMS = ["a", "B", "cat", "Dog", "[x", "{x", "]y", "}y", "\\z", "|z", "^w", "_v", "`u", "Mid", "mID", "q"]


def out(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def member_nick(i):
    return f"{STEMS[i % len(STEMS)]}{i:04d}"


class Member:
    def __init__(self, nick):
        self.nick = nick
        self.reader = None
        self.writer = None
        self.task = None
        self.joined = False
        self.closed = asyncio.Event()

    async def start(self, port, channel, timeout):
        self.reader, self.writer = await asyncio.wait_for(asyncio.open_connection(HOST, port), timeout)
        self.writer.write(f"NICK {self.nick}\r\nUSER m 0 * :crowd member\r\n".encode())
        await asyncio.wait_for(self.until(b" 001 "), timeout)
        self.writer.write(f"JOIN {channel}\r\n".encode())
        await asyncio.wait_for(self.until(b" 366 "), timeout)
        self.joined = True
        self.task = asyncio.ensure_future(self.drain())

    def pong(self, chunk):
        if b"PING" not in chunk:
            return
        for line in chunk.split(b"\n"):
            if line.startswith(b"PING"):
                self.writer.write(b"PONG" + line[4:].rstrip(b"\r") + b"\r\n")

    async def until(self, marker):
        tail = b""
        while True:
            chunk = await self.reader.read(1 << 16)
            if not chunk:
                raise ConnectionError(f"{self.nick}: closed before {marker!r}")
            self.pong(chunk)
            tail = tail[-512:] + chunk
            if marker in tail:
                return

    async def drain(self):
        try:
            while True:
                chunk = await self.reader.read(1 << 16)
                if not chunk:
                    break
                self.pong(chunk)
        except (ConnectionError, OSError):
            pass
        except asyncio.CancelledError:
            return
        self.closed.set()

    def send(self, raw):
        self.writer.write((raw + "\r\n").encode("utf-8", "replace"))

    def drop(self):
        if self.task:
            self.task.cancel()
        if self.writer:
            self.writer.close()


async def bring_up(crowd, a):
    failures = []
    sem = asyncio.Semaphore(max(1, a.concurrency))

    async def one(m):
        async with sem:
            try:
                await m.start(a.port, a.channel, a.timeout)
            except (OSError, asyncio.TimeoutError, ConnectionError) as e:
                failures.append(f"{m.nick}: {e!r}")

    # The first member opens the channel alone, so it holds operator status.
    await one(crowd[0])
    await asyncio.gather(*(one(m) for m in crowd[1:]))
    return failures


async def run_command(words, by_nick, timeout):
    if len(words) < 2 or words[1] not in by_nick:
        return "unknown member"
    m = by_nick[words[1]]
    if not m.joined:
        return "member is not up"
    if words[0] == "send":
        m.send(words[2] if len(words) > 2 else "")
        await m.writer.drain()
        return None
    if words[0] == "quit":
        m.send("QUIT :" + (words[2] if len(words) > 2 else ""))
        await m.writer.drain()
        try:
            await asyncio.wait_for(m.closed.wait(), timeout)
        except asyncio.TimeoutError:
            return "the server did not close the link"
        m.joined = False
        return None
    return "unknown command"


async def main(a):
    crowd = [Member(member_nick(i)) for i in range(a.clients)]
    by_nick = {m.nick: m for m in crowd}
    out("NICKS " + " ".join(m.nick for m in crowd))
    started = time.monotonic()
    failures = await bring_up(crowd, a)
    up = sum(m.joined for m in crowd)
    out(f"CROWD up={up}/{a.clients} secs={time.monotonic() - started:.2f} failures={len(failures)}")
    for f in failures[:5]:
        out("  failure: " + f)

    loop = asyncio.get_running_loop()
    stdin = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(stdin), sys.stdin)
    deadline = started + a.max_time
    count = 0
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            out("max-time reached")
            break
        try:
            line = await asyncio.wait_for(stdin.readline(), left)
        except asyncio.TimeoutError:
            out("max-time reached")
            break
        if not line:
            break
        text = line.decode("utf-8", "replace").rstrip("\r\n")
        if not text.strip():
            continue
        count += 1
        words = text.split(" ", 2)
        why = await run_command(words, by_nick, a.timeout)
        out(f"ok {count}" if why is None else f"fail {count} {why}")

    for m in crowd:
        if m.joined:
            try:
                m.send("QUIT :crowd done")
            except (OSError, RuntimeError):
                pass
    await asyncio.sleep(0.2)
    for m in crowd:
        m.drop()
    return 0 if up == a.clients else 1


if __name__ == "__main__":
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("port", type=int)
    p.add_argument("--clients", type=int, default=2000)
    p.add_argument("--channel", default="#big")
    p.add_argument("--concurrency", type=int, default=500)
    p.add_argument("--timeout", type=float, default=30, help="per step (connect, register, join, quit)")
    p.add_argument("--max-time", type=float, default=170, help="hard cap on the whole run")
    args = p.parse_args()
    if not 1 <= args.clients <= MAX_CLIENTS:
        p.error(f"--clients must be 1..{MAX_CLIENTS}")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    need = args.clients + 64
    if soft < need:
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (min(need, hard), hard))
        except (ValueError, OSError):
            pass
        if resource.getrlimit(resource.RLIMIT_NOFILE)[0] < need:
            sys.exit(f"bigchan.py: needs ulimit -n >= {need}; the hard limit is {hard}")
    sys.exit(asyncio.run(main(args)))
