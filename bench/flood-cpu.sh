#!/bin/bash
# flood-cpu.sh [COUNT...] — CPU time lumenwick-text spends per channel line,
# measured from outside on a real server.
#
# Starts InspIRCd on 127.0.0.1 (tests/harness/ircd-up.sh; its loopback class
# sets the flood limits out of reach; each flood comes from a fresh
# connection that opers up with the harness's operator block),
# starts the Release lumenwick-text in
# #flood with logging and scrollback on (their defaults), and lets a raw-socket
# flooder send COUNT channel messages (default: 10000 and 100000) as fast as
# the server takes them. The run ends when the last line is in the client's
# log file (bounded wait); the client's CPU time (user+sys from
# /proc/PID/stat, and the nanosecond run time of its threads from
# /proc/PID/task/*/schedstat) before and after gives the cost per line.
#
# Environment:
#   BUILD    build directory holding src/fe-text/lumenwick-text (default: build-perf)
#   STDOUT   "file" (default: the client's output goes to a file, the honest
#            case) or "null" (/dev/null)
#   KEEP=1   keep the work directory (logs, scrollback, output) for a look
#   PERF=FILE record the client with "perf record -g" during the last flood
#   SETTINGS="name = value;..." more client settings (the last one of a name wins)
#   GUI=1    measure the GTK program instead, on a private Xvfb display with
#            the channel's tab in front at the default window size (as an
#            unprivileged user when run as root, past the root warning)
#   INPUT=1  (with GUI=1) halfway through each flood, type a message to a
#            watcher connection outside the channel with xdotool, and report
#            how long from its Return key until the watcher has it (the client
#            is then working through the flood's backlog; the watcher's own
#            queue is empty, unlike the channel's, where an echo would wait
#            behind the flood). The typing (ten keys a second) falls inside the
#            measured flood: read the CPU figures from a run without INPUT.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build-perf}"
CLIENT="$BUILD/src/fe-text/lumenwick-text"
[ "${GUI:-0}" = 1 ] && CLIENT="$BUILD/src/fe-gtk/lumenwick"
HARNESS="$ROOT/tests/harness"
STDOUT="${STDOUT:-file}"
COUNTS=("$@")
[ ${#COUNTS[@]} -gt 0 ] || COUNTS=(10000 100000)
[ -x "$CLIENT" ] || { echo "error: $CLIENT not built (ninja -C $BUILD $(basename "$CLIENT"))" >&2; exit 1; }
if [ -x /usr/bin/python3 ]; then PY=/usr/bin/python3; else PY=python3; fi

WORK="$(mktemp -d /tmp/lwk-flood-XXXXXX)"
CLIENT_PID=""
XVFB_PID=""
cleanup() {
  if [ -n "$CLIENT_PID" ] && kill -0 "$CLIENT_PID" 2>/dev/null; then
    kill "$CLIENT_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$CLIENT_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$CLIENT_PID" 2>/dev/null || true
  fi
  exec 3>&- 2>/dev/null || true
  "$HARNESS/ircd-down.sh" "$WORK/ircd" >/dev/null 2>&1 || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  if [ "${KEEP:-0}" = 1 ]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

"$HARNESS/ircd-up.sh" "$WORK/ircd" >/dev/null
PORT="$(cat "$WORK/ircd/ports/irc")"

# A private home for the client; its identity in the configuration file, so
# that it registers as "flooded" without a typed command.
for d in home xdg-config xdg-data xdg-cache cfg; do mkdir -p "$WORK/client/$d"; done
CFG="$WORK/client/cfg"
printf '%s\n' "irc_nick1 = flooded" "irc_nick2 = flooded_" "irc_user_name = flooded" \
  "irc_real_name = flood target" "irc_logging = 1" "text_replay = 1" >"$CFG/lumenwick.conf"
[ "${GUI:-0}" = 1 ] && printf '%s\n' "gui_slist_skip = 1" "gui_join_dialog = 0" >>"$CFG/lumenwick.conf"
[ -n "${SETTINGS:-}" ] && printf '%s\n' "$SETTINGS" | tr ';' '\n' >>"$CFG/lumenwick.conf"

AS_USER=()
if [ "${GUI:-0}" = 1 ]; then
  Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp -ac 4>"$WORK/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
  GUI_DISPLAY=":$(tr -dc 0-9 <"$WORK/display")"
  if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$WORK"
    chown -R nobody:"$(id -gn nobody)" "$WORK/client"
    AS_USER=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
  fi
fi

# Standard input stays open (an end of input would end the client).
mkfifo "$WORK/client/in"
case "$STDOUT" in
  null) OUT=/dev/null ;;
  file) OUT="$WORK/client/out" ;;
  *) echo "error: STDOUT is file or null" >&2; exit 1 ;;
esac
(
  cd "$WORK/client"
  export HOME="$WORK/client/home" XDG_CONFIG_HOME="$WORK/client/xdg-config" \
    XDG_DATA_HOME="$WORK/client/xdg-data" XDG_CACHE_HOME="$WORK/client/xdg-cache" LC_ALL=C LANG=C
  unset DISPLAY WAYLAND_DISPLAY
  [ "${GUI:-0}" = 1 ] && export DISPLAY="$GUI_DISPLAY" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
  exec "${AS_USER[@]}" "$CLIENT" -d "$CFG" "irc://127.0.0.1:$PORT/#flood" <"$WORK/client/in" >"$OUT" 2>"$WORK/client/err"
) &
CLIENT_PID=$!
exec 3>"$WORK/client/in"

[ "${GUI:-0}" = 1 ] && export FLOOD_DISPLAY="$GUI_DISPLAY"
PERF="${PERF:-}" "$PY" - "$PORT" "$CLIENT_PID" "$CFG" "$STDOUT" "${COUNTS[@]}" <<'EOF'
import os, signal, socket, subprocess, sys, time, glob

port, pid, cfg, stdout_kind = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
counts = [int(c) for c in sys.argv[5:]]
CLK_TCK = os.sysconf("SC_CLK_TCK")
TEXT = "the build passes on the release branch again, shipping it after lunch if nobody objects"

def die(msg):
    print("error: " + msg, file=sys.stderr)
    sys.exit(1)

def cpu_ticks():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime

def cpu_ns():
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # a thread that ended meanwhile
    return total

def alive():
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False

class Conn:
    def __init__(self, nick):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.buf = b""
        self.send(f"CAP END\r\nNICK {nick}\r\nUSER {nick} 0 * :flooder\r\n")
        self.wait_for(lambda l: f" 001 {nick} " in l, 20)

    def send(self, text):
        self.sock.sendall(text.encode())

    def wait_for(self, pred, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while b"\r\n" in self.buf:
                line, self.buf = self.buf.split(b"\r\n", 1)
                l = line.decode(errors="replace")
                if l.startswith("PING "):
                    self.send("PONG " + l[5:] + "\r\n")
                if pred(l):
                    return l
            self.sock.settimeout(max(0.05, end - time.monotonic()))
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not data:
                die("the server closed the flooder's connection")
            self.buf += data
        die("timed out waiting on the server")

    def drain(self):
        # Answers pings while flooding; nothing else comes back to a sender.
        self.sock.setblocking(False)
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    break
                self.buf += data
        except BlockingIOError:
            pass
        self.sock.setblocking(True)
        while b"\r\n" in self.buf:
            line, self.buf = self.buf.split(b"\r\n", 1)
            if line.startswith(b"PING "):
                self.sock.sendall(b"PONG " + line[5:] + b"\r\n")

def log_file():
    hits = glob.glob(os.path.join(cfg, "logs", "**", "#flood.log"), recursive=True)
    return hits[0] if hits else None

def log_has(path, marker, since):
    with open(path, "rb") as f:
        f.seek(since)
        return marker.encode() in f.read()

def new_flooder(nick):
    c = Conn(nick)
    # The harness's operator block (privileges "*", users/flood/no-fakelag among
    # them), and a fresh connection for every flood: on a connection that has
    # already flooded, InspIRCd holds the input back and hands it on at a few
    # thousand lines a second, and the client then pays a wake-up per line
    # instead of reading the lines in batches.
    c.send("OPER admin admin\r\n")
    c.wait_for(lambda l: f" 381 {nick} " in l, 10)
    c.send("JOIN #flood\r\n")
    c.wait_for(lambda l: l.startswith(f":{nick}!") and " JOIN " in l, 10)
    return c

# The channel is opened by a first flooder, so that the client is no operator
# of it; it stays until the end.
opener = new_flooder("opener")
opener.wait_for(lambda l: l.startswith(":flooded!") and " JOIN " in l, 30)

# Joined: wait for the client's log of the channel and a quiet moment.
deadline = time.monotonic() + 20
while not log_file():
    if time.monotonic() > deadline or not alive():
        die("the client never logged #flood")
    time.sleep(0.05)
time.sleep(1.0)
log = log_file()

print(f"{os.path.basename(os.readlink(f'/proc/{pid}/exe'))} pid {pid}, standard output to {'a file' if stdout_kind == 'file' else '/dev/null'}, "
      f"load average {open('/proc/loadavg').read().split()[0]}, {os.cpu_count()} CPUs")
def xdo(*args):
    env = dict(os.environ, DISPLAY=os.environ["FLOOD_DISPLAY"])
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, check=False).stdout

def focus_client():
    ids = xdo("search", "--classname", "org.lumenwick.Lumenwick").split()
    if not ids:
        die("no client window to type into")
    xdo("windowfocus", "--sync", ids[-1])

watcher = None

def measure_input(label):
    """Types a message during the flood; returns ms from Return until the watcher has it."""
    text = f"typed-during-flood-{label}-{time.time_ns()}"
    since = os.path.getsize(log)
    # At a fast typist's pace (ten keys a second): each key must be handled
    # before the next, or the backlog shows in the time to the Return key.
    xdo("type", "--delay", "100", f"/msg watcher {text}")
    t0 = time.monotonic()
    xdo("key", "Return")
    # The client shows (and logs) what it sent at once; the watcher has it
    # once the client's send queue and the server passed it on.
    deadline = t0 + 10
    while not log_has(log, text, since):
        if time.monotonic() > deadline:
            die("the message typed during the flood never showed")
        time.sleep(0.002)
    shown = (time.monotonic() - t0) * 1000
    watcher.wait_for(lambda l: text in l, 10)
    return shown, (time.monotonic() - t0) * 1000

def flood(n, label, record=False):
    """Sends n lines from a fresh connection; prints the client's CPU per line."""
    marker = f"flood-end-{label}-{time.time_ns()}"
    lines = [f"PRIVMSG #flood :{TEXT} {i}\r\n" for i in range(n - 1)]
    lines.append(f"PRIVMSG #flood :{marker}\r\n")
    payload = "".join(lines).encode()
    flooder = new_flooder(f"flooder{label}")
    opener.drain()
    since = os.path.getsize(log)
    perf = None
    if record:
        perf = subprocess.Popen(["perf", "record", "-q", "-g", "-p", str(pid), "-o", os.environ["PERF"]],
                                stdout=subprocess.DEVNULL)
        time.sleep(0.5)
    ticks0, ns0, t0 = cpu_ticks(), cpu_ns(), time.monotonic()
    chunk = 64 * 1024
    typed_ms = None
    for off in range(0, len(payload), chunk):
        flooder.sock.sendall(payload[off:off + chunk])
        flooder.drain()
        if os.environ.get("INPUT") == "1" and typed_ms is None and off >= len(payload) // 2:
            typed_ms = measure_input(label)
    # Bounded: far longer than any plausible run, short enough to notice a hang.
    deadline = time.monotonic() + 60 + n / 1000
    while not log_has(log, marker, since):
        if time.monotonic() > deadline:
            die(f"the last of {n} lines never reached the log")
        if not alive():
            die("the client exited during the flood")
        flooder.drain()
        time.sleep(0.02)
    t1 = time.monotonic()
    ticks, ns = cpu_ticks() - ticks0, cpu_ns() - ns0
    if perf:
        perf.send_signal(signal.SIGINT)
        perf.wait(timeout=60)
    flooder.send("QUIT :done\r\n")
    time.sleep(0.5)
    if typed_ms is not None:
        print(f"  message typed during the {n}-line flood: shown after {typed_ms[0]:.1f} ms, "
              f"at the recipient after {typed_ms[1]:.1f} ms")
    return ticks, ns, n / (t1 - t0)

# Not reported: the first lines after the join meet the client still settling
# in, and come in slowly.
if os.environ.get("INPUT") == "1":
    focus_client()
    watcher = Conn("watcher")
flood(2000, "warm-up")
for i, n in enumerate(counts):
    ticks, ns, rate = flood(n, str(i), bool(os.environ.get("PERF")) and i == len(counts) - 1)
    print(f"{n:>7} lines: {ns / 1e3 / n:6.2f} us CPU/line (schedstat), {ticks * 1e6 / CLK_TCK / n:6.2f} us/line "
          f"(stat user+sys, {ticks} ticks), {rate:,.0f} lines/s wall")

opener.send("QUIT :done\r\n")
EOF
