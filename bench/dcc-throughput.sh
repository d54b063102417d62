#!/bin/bash
# dcc-throughput.sh [MIB] — DCC SEND throughput on 127.0.0.1, measured from outside:
#   socat -> socat            the plain TCP copy of the same file (the yardstick)
#   lumenwick-text -> lumenwick-text   (wall time from the offer to the received file,
#                             and the CPU both processes spent, per MiB)
#   irssi -> irssi            two irssi instances in tmux, the same way
# on a private InspIRCd (tests/harness). MIB defaults to 256.
#
# Environment:
#   BUILD   build directory with src/fe-text/lumenwick-text (default: build-perf, a
#           Release build: cmake -B build-perf -DCMAKE_BUILD_TYPE=Release
#           -DLUMENWICK_BUILD_GTK=OFF -DLUMENWICK_BUILD_TESTS=OFF; ninja -C build-perf lumenwick-text)
#   KEEP=1  keep the work directory
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tests/harness/lib.sh"
BUILD="${BUILD:-$ROOT/build-perf}"
CLIENT="$BUILD/src/fe-text/lumenwick-text"
[ -x "$CLIENT" ] || die "$CLIENT not built"
MIB="${1:-256}"
H="$HARNESS_DIR"
W="$(mktemp -d /tmp/lumenwick-dcc-bench.XXXXXX)"
CLK_TCK="$(getconf CLK_TCK)"

cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  stop_pid "$W/a.pid" lumenwick >/dev/null 2>&1
  stop_pid "$W/b.pid" lumenwick >/dev/null 2>&1
  "$H/irssi-peer.sh" "$W/ia" down >/dev/null 2>&1
  "$H/irssi-peer.sh" "$W/ib" down >/dev/null 2>&1
  "$H/ircd-down.sh" "$W" >/dev/null 2>&1
  if [ "${KEEP:-0}" = 1 ]; then echo "kept $W"; else rm -rf "$W"; fi
}
trap cleanup EXIT

now() { date +%s.%N; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
# wait_size FILE BYTES SECONDS — until FILE holds BYTES.
wait_size() {
  local i
  for ((i = 0; i < $3 * 100; i++)); do [ "$(size_of "$1")" = "$2" ] && return 0; sleep 0.01; done
  return 1
}
rate() { awk -v m="$MIB" -v t="$1" 'BEGIN { printf "%.0f", m / t }'; }

head -c $((MIB * 1048576)) /dev/urandom >"$W/data.bin"
BYTES=$((MIB * 1048576))
SUM="$(sha256sum "$W/data.bin" | cut -d' ' -f1)"

# ---- socat ----------------------------------------------------------------------------
PORT=$(( (RANDOM % 20000) + 30000 ))
socat -u "TCP-LISTEN:$PORT,bind=127.0.0.1,reuseaddr" "OPEN:$W/socat.out,creat,trunc" &
SRV=$!
sleep 0.3
t0=$(now)
socat -u "FILE:$W/data.bin" "TCP:127.0.0.1:$PORT"
wait "$SRV"
t1=$(now)
SOCAT_S=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
echo "socat -> socat:                 $(rate "$SOCAT_S") MiB/s ($SOCAT_S s)"

# ---- lumenwick-text -> lumenwick-text ---------------------------------------------------
"$H/ircd-up.sh" "$W" >/dev/null || die "ircd did not start"
IRC_PORT="$(port_of "$W" irc)"
start_client() { # NAME FD
  mkdir -p "$W/$1/cfg" "$W/$1/dl"
  printf 'irc_nick1 = %s\nirc_user_name = %s\nnet_throttle = 0\ndcc_dir = %s\ndcc_auto_recv = 2\ndcc_ip = 127.0.0.1\ndcc_blocksize = 102400\n' \
    "$1" "$1" "$W/$1/dl" >"$W/$1/cfg/lumenwick.conf"
  mkfifo "$W/$1.in"
  HOME="$W/$1" start_bg "$W/$1.pid" "$W/$1.out" sh -c "exec '$CLIENT' -d '$W/$1/cfg' 'irc://127.0.0.1:$IRC_PORT/#bench' <'$W/$1.in'"
}
start_client a; exec 3>"$W/a.in"
start_client b; exec 4>"$W/b.in"
for c in a b; do
  for ((i = 0; i < 150; i++)); do grep -q "Connected" "$W/$c.out" && break; sleep 0.1; done
done
echo "/quote CAP END" >&3; echo "/quote CAP END" >&4
for ((i = 0; i < 150; i++)); do grep -q "Now talking" "$W/a.out" && grep -q "Now talking" "$W/b.out" && break; sleep 0.1; done
A=$(cat "$W/a.pid"); B=$(cat "$W/b.pid")
ta=$(ticks "$A"); tb=$(ticks "$B")
t0=$(now)
echo "/dcc send b $W/data.bin" >&3
# A line typed while the transfer runs, from either end, must still go out at once.
for ((i = 0; i < 1000; i++)); do [ "$(size_of "$W/b/dl/data.bin")" -gt 0 ] && break; sleep 0.005; done
tl=$(now)
echo "/msg a typed-during-transfer" >&4
for ((i = 0; i < 2000; i++)); do grep -q "typed-during-transfer" "$W/a.out" && break; sleep 0.002; done
tm=$(now)
LINE_MS=$(awk -v a="$tl" -v b="$tm" 'BEGIN { printf "%.0f", (b - a) * 1000 }')
at=$(size_of "$W/b/dl/data.bin")
if wait_size "$W/b/dl/data.bin" "$BYTES" 120; then
  for ((i = 0; i < 500; i++)); do grep -q "complete" "$W/b.out" && break; sleep 0.01; done
  t1=$(now)
  LW_S=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  cpu=$(( $(ticks "$A") - ta + $(ticks "$B") - tb ))
  ok=$([ "$(sha256sum "$W/b/dl/data.bin" | cut -d' ' -f1)" = "$SUM" ] && echo "sha256 match" || echo "SHA256 MISMATCH")
  echo "lumenwick-text -> lumenwick-text: $(rate "$LW_S") MiB/s ($LW_S s, $ok);" \
    "line typed at $((at / 1048576)) MiB arrived in $LINE_MS ms;" \
    "CPU $(awk -v c="$cpu" -v k="$CLK_TCK" -v m="$MIB" 'BEGIN { printf "%.2f ms/MiB", c * 1000 / k / m }') (both ends)"
else
  echo "lumenwick-text -> lumenwick-text: did not finish"; LW_S=0
fi
echo "/quit" >&3; echo "/quit" >&4

# ---- irssi -> irssi ---------------------------------------------------------------------
export IRC_PORT
if "$H/irssi-peer.sh" "$W/ia" up irssia '#bench' >/dev/null 2>&1 && "$H/irssi-peer.sh" "$W/ib" up irssib '#bench' >/dev/null 2>&1; then
  t0=$(now)
  "$H/irssi-peer.sh" "$W/ia" cmd "/dcc send irssib $W/data.bin"
  if wait_size "$W/ib/irssi/dl/data.bin" "$BYTES" 120; then
    t1=$(now)
    IR_S=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    echo "irssi -> irssi:                 $(rate "$IR_S") MiB/s ($IR_S s)"
  else
    echo "irssi -> irssi: did not finish"
  fi
else
  echo "irssi did not start"
fi
