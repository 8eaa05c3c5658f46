#!/usr/bin/env bash
# Resource use of the desktop program tarnix with the Traffic Monitor tab on
# view at the default redraw period (50 ms) and sampling at 50 ms: CPU time
# (utime + stime from /proc/PID/stat) over a span, as % of one core, and
# resident memory (VmRSS now, VmHWM the peak), against the aims 3 % and 80 MB.
#
# Usage: bench/tarnix_usage.sh [BUILD_DIR] [SECONDS]
#
# tarnix runs on a virtual X server (Xvfb) as a portable copy in a temporary
# folder with a fresh HOME and runtime folder, so it starts with default
# settings (first interface, normally lo) and touches nothing of yours. A
# loopback sender keeps the graph busy while it is measured. The X server's
# own work is not counted. Everything started here is ended and removed.
set -euo pipefail

build=${1:-build}
span=${2:-30}
warmup=3
tarnix="$build/src/ui/tarnix"
[ -x "$tarnix" ] || { echo "tarnix_usage: $tarnix not built" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "tarnix_usage: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d /tmp/tw-tarnix-usage-XXXXXX)
mkdir -p "$work/app" "$work/home" "$work/run"
chmod 700 "$work/run"
cp "$tarnix" "$work/app/tarnix"

xvfb=""
pid=""
load=""
cleanup() {
  [ -n "$load" ] && kill "$load" 2>/dev/null || true
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 25); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "tarnix_usage: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
display=":$(cat "$work/display")"

if command -v python3 >/dev/null; then
  # About 2 MB/s over loopback, steady, so that bars and labels are drawn.
  python3 - >/dev/null 2>&1 <<'EOF' &
import socket, threading, time
srv = socket.socket(); srv.bind(("127.0.0.1", 0)); srv.listen(1)
def sink():
    c, _ = srv.accept()
    while c.recv(1 << 16):
        pass
threading.Thread(target=sink, daemon=True).start()
out = socket.create_connection(srv.getsockname())
chunk = b"\0" * 16384
while True:
    out.sendall(chunk)
    time.sleep(0.008)
EOF
  load=$!
fi

(cd "$work/app" && exec env -u XDG_CONFIG_HOME HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
   DISPLAY="$display" QT_QPA_PLATFORM=xcb ./tarnix) >"$work/tarnix.log" 2>&1 &
pid=$!

sleep "$warmup"
if ! kill -0 "$pid" 2>/dev/null; then
  echo "tarnix_usage: tarnix ended early" >&2
  cat "$work/tarnix.log" >&2
  exit 1
fi

cpu_ticks() {  # utime + stime: fields 14 and 15, counted after the ")" of comm
  sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}
hz=$(getconf CLK_TCK)
t0=$(cpu_ticks "$pid")
s0=$(date +%s.%N)
sleep "$span"
t1=$(cpu_ticks "$pid")
s1=$(date +%s.%N)
rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" -v rss="$rss" -v hwm="$hwm" \
    -v threads="$threads" 'BEGIN {
  wall = s1 - s0
  cpu = (t1 - t0) / hz
  pct = 100 * cpu / wall
  printf "tarnix usage over %.1f s, Traffic Monitor tab on view, redraw and sampling every 50 ms, under Xvfb (%d threads)\n", wall, threads
  printf "  CPU      %.2f %% of one core (%.2f s)    aim < 3 %%     %s\n", pct, cpu, (pct < 3 ? "ok" : "OVER")
  printf "  VmRSS    %.1f MB                         aim < 80 MB    %s\n", rss / 1024, (rss / 1024 < 80 ? "ok" : "OVER")
  printf "  VmHWM    %.1f MB (peak)\n", hwm / 1024
}'
