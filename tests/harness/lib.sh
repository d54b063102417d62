# Shared helpers, sourced by the *-up.sh / *-down.sh scripts. Bash only.
# Everything listens on 127.0.0.1 only, every wait loop is bounded, and every
# process is stopped by the pid recorded when it was started.

HARNESS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# Debian's interpreter when present: a version manager's shim on PATH costs
# start-up time and may point at an interpreter without the standard ssl module.
if [ -x /usr/bin/python3 ]; then PY=/usr/bin/python3; else PY=python3; fi

die() { echo "error: $*" >&2; exit 1; }

need_dir() {
  [ -n "${1:-}" ] || die "usage: $(basename "$0") DIR"
  mkdir -p "$1"
  (cd "$1" && pwd)
}

# existing_dir DIR -> its absolute path, or status 1 when DIR is gone: there is nothing
# to stop then, and a stopping script must not create it again. Use as
#   DIR="$(existing_dir "${1:-}")" || exit 0
existing_dir() {
  [ -n "${1:-}" ] || die "usage: $(basename "$0") DIR"
  [ -d "$1" ] || return 1
  (cd "$1" && pwd)
}

# proc_running PID -> 0 if PID exists and is not a zombie (an exited process whose
# reaping by init can lag by a second or two here).
proc_running() {
  local state
  # The state follows the parenthesised command name, which may itself hold spaces.
  state="$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# pid_alive PIDFILE COMM -> 0 if the pid in PIDFILE runs and its comm starts with COMM
# (the comm check keeps a recycled pid from being taken for ours).
pid_alive() {
  local f="$1" comm="$2" pid
  [ -s "$f" ] || return 1
  pid="$(cat "$f")"
  proc_running "$pid" || return 1
  case "$(cat "/proc/$pid/comm" 2>/dev/null)" in "$comm"*) return 0 ;; esac
  return 1
}

# wait_port PORT [TRIES] -> 0 once 127.0.0.1:PORT accepts a TCP connection (TRIES x 0.1 s)
wait_port() {
  local port="$1" tries="${2:-100}" i
  for ((i = 0; i < tries; i++)); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

# listening_pid_on PORT PID -> 0 if PID (or one of its children) listens on 127.0.0.1:PORT.
# Tells our own listener from another program's that won a race for the port.
listening_pid_on() {
  local port="$1" pid="$2"
  ss -ltnpH "sport = :$port" 2>/dev/null | grep -q "pid=$pid," && return 0
  local child
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    ss -ltnpH "sport = :$port" 2>/dev/null | grep -q "pid=$child," && return 0
  done
  return 1
}

# port_free PORT -> 0 if nothing listens on 127.0.0.1:PORT
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# pick_ports N -> N distinct free ports on 127.0.0.1, one a line, chosen by the
# kernel (all held at once while choosing, so they differ from each other).
pick_ports() {
  "$PY" - "$1" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print("\n".join(str(s.getsockname()[1]) for s in held))
EOF
}

# port_of DIR NAME -> the port recorded for NAME, or nothing
port_of() { cat "$1/ports/$2" 2>/dev/null || true; }

# record_port DIR NAME PORT
record_port() { mkdir -p "$1/ports"; echo "$3" >"$1/ports/$2"; }

# stop_pid PIDFILE COMM [SIGNAL] -> SIGNAL (default TERM), wait up to 5 s, then KILL; only that one pid.
stop_pid() {
  local f="$1" comm="$2" sig="${3:-TERM}" pid i
  if ! pid_alive "$f" "$comm"; then
    rm -f "$f"; echo "$comm: not running"; return 0
  fi
  pid="$(cat "$f")"
  kill -"$sig" "$pid" 2>/dev/null
  for ((i = 0; i < 50; i++)); do
    proc_running "$pid" || break
    sleep 0.1
  done
  if proc_running "$pid"; then kill -KILL "$pid" 2>/dev/null; sleep 0.2; fi
  rm -f "$f"
  echo "$comm: stopped pid $pid"
}

# start_bg PIDFILE LOGFILE CMD... -> start CMD in its own session, record its pid.
start_bg() {
  local f="$1" log="$2"; shift 2
  setsid "$@" >"$log" 2>&1 </dev/null &
  echo $! >"$f"
}

# start_listener NAME COMM DIR PORTVAR_DEFAULT CMDBUILDER
# Starts a daemon on a port and checks that it is that daemon which listens.
# When the port was chosen here (not given by the caller) and another program
# took it meanwhile, a new port is chosen, up to three times.
#   $1 name  $2 comm  $3 dir  $4 fixed port or ""  $5 function: called with the port, prints nothing,
#   starts the daemon with start_bg "$3/$1.pid" ...
start_listener() {
  local name="$1" comm="$2" dir="$3" fixed="$4" starter="$5" port try pidf="$3/$1.pid"
  for try in 1 2 3; do
    if [ -n "$fixed" ]; then port="$fixed"; else port="$(pick_ports 1)"; fi
    if ! port_free "$port"; then
      [ -n "$fixed" ] && die "port $port on 127.0.0.1 is already taken"
      continue
    fi
    "$starter" "$port"
    if wait_port "$port" 50 && pid_alive "$pidf" "$comm" && listening_pid_on "$port" "$(cat "$pidf")"; then
      STARTED_PORT="$port"
      return 0
    fi
    stop_pid "$pidf" "$comm" KILL >/dev/null
    [ -n "$fixed" ] && break
  done
  tail -n 5 "$dir/$name.out" >&2 2>/dev/null
  die "$name did not listen on 127.0.0.1"
}

# loopback_shim DIR -> builds DIR/loopback-bind.so (once) and prints its path.
# Preloaded into peers whose DCC listener binds the wildcard address.
loopback_shim() {
  local so="$1/loopback-bind.so" src="$HARNESS_DIR/loopback-bind.c"
  if [ ! -s "$so" ] || [ "$src" -nt "$so" ]; then
    cc -shared -fPIC -O2 -o "$so" "$src" -ldl || die "cannot build $so (needs gcc, libc6-dev)"
  fi
  echo "$so"
}
