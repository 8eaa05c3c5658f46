#!/usr/bin/env bash
# Resource use of the desktop program tarnix with the Traffic Monitor tab on
# view at the default redraw period (50 ms) and sampling at 50 ms: CPU time
# (utime + stime from /proc/PID/stat) over a span, as % of one core, and
# resident memory (VmRSS now, VmHWM the peak), against the targets 1.5 % and
# 60 MB.
#
# Usage: bench/tarnix_usage.sh [BUILD_DIR] [SECONDS]
#
# tarnix runs on a virtual X server (Xvfb) as a portable copy in a temporary
# folder with a fresh HOME and runtime folder, so it starts with default
# settings (first interface, normally lo) and touches nothing of yours. A
# loopback sender keeps the graph busy while it is measured. The X server's
# own work is not counted. Everything started here is ended and removed.
set -euo pipefail
# shellcheck source=scripts/session_lib.sh
. "$(dirname "$0")/../scripts/session_lib.sh"

build=${1:-build}
span=${2:-30}
warmup=3
tarnix="$build/src/ui/tarnix"
[ -x "$tarnix" ] || { echo "tarnix_usage: $tarnix not built" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "tarnix_usage: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d /tmp/tw-tarnix-usage-XXXXXX)

xvfb_pid=""
app_pid=""
load_pid=""
trap stop_session EXIT

start_xvfb "$work" tarnix_usage || exit 1

# About 2 MB/s over loopback, steady, so that bars and labels are drawn.
start_loopback_load '
chunk = b"\0" * 16384
while True:
    out.sendall(chunk)
    time.sleep(0.008)'

start_tarnix_copy "$work" "$tarnix" "$display"

sleep "$warmup"
if ! kill -0 "$app_pid" 2>/dev/null; then
  echo "tarnix_usage: tarnix ended early" >&2
  cat "$work/tarnix.log" >&2
  exit 1
fi

measure_usage "$app_pid" "$span"

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" -v rss="$rss" -v hwm="$hwm" \
    -v threads="$threads" 'BEGIN {
  wall = s1 - s0
  cpu = (t1 - t0) / hz
  pct = 100 * cpu / wall
  printf "tarnix usage over %.1f s, Traffic Monitor tab on view, redraw and sampling every 50 ms, under Xvfb (%d threads)\n", wall, threads
  printf "  CPU      %.2f %% of one core (%.2f s)    target <= 1.5 %%   %s\n", pct, cpu, (pct <= 1.5 ? "ok" : "OVER")
  printf "  VmRSS    %.1f MB                         target <= 60 MB    %s\n", rss / 1024, (rss / 1024 <= 60 ? "ok" : "OVER")
  printf "  VmHWM    %.1f MB (peak)\n", hwm / 1024
}'
