#!/usr/bin/env bash
# Resource use of the desktop program tarnix at the default redraw period
# (50 ms) and sampling period (50 ms), with traffic flowing: two copies run
# side by side, each on a virtual X server (Xvfb) of its own, one with the
# Traffic Monitor tab on view, one with the Mini Monitor open as well, so
# that the Mini Monitor's share is the difference of two figures taken under
# the same load. For each: CPU time of all its threads (the scheduler's run
# time, /proc/PID/task/*/schedstat, exact to the nanosecond) over a span as %
# of one core, and resident memory (VmRSS now, VmHWM the peak), against the
# targets: 1.5 % of a core and 60 MB for the graph, 0.3 % more with the Mini
# Monitor. The machine's load is printed with them: other work on the same
# cores raises every figure.
#
# Usage: bench/tarnix_usage.sh [BUILD_DIR] [SECONDS]
#        TARNIX=path/to/tarnix bench/tarnix_usage.sh ...   (another build)
#
# Each copy is a portable copy in a temporary folder with a fresh HOME and
# runtime folder, so it starts with default settings (but for the interface:
# lo) and touches nothing of yours. A loopback sender keeps about 2 MB/s
# flowing, so that bars and labels move every frame. The X servers'
# own work is not counted. Everything started here is ended and removed.
set -euo pipefail
# shellcheck source=scripts/session_lib.sh
. "$(dirname "$0")/../scripts/session_lib.sh"

build=${1:-build}
span=${2:-30}
warmup=4
tarnix=${TARNIX:-$build/src/ui/tarnix}
[ -x "$tarnix" ] || { echo "tarnix_usage: $tarnix not built" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "tarnix_usage: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d /tmp/tw-tarnix-usage-XXXXXX)
pids=()
load_pid=""
cleanup() {
  [ -n "${load_pid:-}" ] && kill "$load_pid" 2>/dev/null || true
  for p in "${pids[@]}"; do stop_gently "$p"; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# About 2 MB/s over loopback, steady.
start_loopback_load '
chunk = b"\0" * 16384
while True:
    out.sendall(chunk)
    time.sleep(0.008)'

# Starts copy $1 (a folder name) with settings text $2; sets app_pid.
start_copy() {
  mkdir "$work/$1"
  xvfb_pid=""
  start_xvfb "$work/$1" tarnix_usage || exit 1
  pids+=("$xvfb_pid")
  # As start_tarnix_copy, with the settings file in place first.
  local dir="$work/$1"
  mkdir "$dir/app" "$dir/home"
  mkdir -m 700 "$dir/run"
  cp "$tarnix" "$dir/app/tarnix"
  printf '%b' "$2" >"$dir/app/tarnix_$(id -un)@$(hostname).ini"
  (cd "$dir/app" && exec env -u XDG_CONFIG_HOME HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
     DISPLAY="$display" QT_QPA_PLATFORM=xcb ./tarnix) >"$dir/tarnix.log" 2>&1 &
  app_pid=$!
  pids=("$app_pid" "${pids[@]}")
}
start_copy graph '[Settings]\nInterfaceName=lo\n'
graph_pid=$app_pid
start_copy mini '[Settings]\nInterfaceName=lo\nMiniMonitor=1\n'
mini_pid=$app_pid

sleep "$warmup"
for p in "$graph_pid" "$mini_pid"; do
  if ! kill -0 "$p" 2>/dev/null; then
    echo "tarnix_usage: tarnix ended early" >&2
    cat "$work"/*/tarnix.log >&2
    exit 1
  fi
done

# Run time of all threads of process $1 in nanoseconds.
run_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

load0=$(cut -d' ' -f1-3 /proc/loadavg)
g0=$(run_ns "$graph_pid"); m0=$(run_ns "$mini_pid"); s0=$(date +%s.%N)
sleep "$span"
g1=$(run_ns "$graph_pid"); m1=$(run_ns "$mini_pid"); s1=$(date +%s.%N)
load1=$(cut -d' ' -f1-3 /proc/loadavg)

awk -v g0="$g0" -v g1="$g1" -v m0="$m0" -v m1="$m1" -v s0="$s0" -v s1="$s1" \
    -v grss="$(kb "$graph_pid" VmRSS)" -v ghwm="$(kb "$graph_pid" VmHWM)" \
    -v mrss="$(kb "$mini_pid" VmRSS)" -v mhwm="$(kb "$mini_pid" VmHWM)" \
    -v load0="$load0" -v load1="$load1" -v cores="$(nproc)" 'BEGIN {
  wall = s1 - s0
  g = 100 * (g1 - g0) / 1e9 / wall
  m = 100 * (m1 - m0) / 1e9 / wall
  printf "tarnix usage over %.1f s, redraw and sampling every 50 ms, ~2 MB/s over lo, under Xvfb\n", wall
  printf "  machine load %s at the start, %s at the end (%d cores)\n", load0, load1, cores
  printf "  graph on view          CPU %5.2f %% of one core   target <= 1.5 %%   %s\n", g, (g <= 1.5 ? "ok" : "OVER")
  printf "                         RSS %5.1f MB (peak %.1f)   target <= 60 MB   %s\n", grss / 1024, ghwm / 1024, (grss / 1024 <= 60 ? "ok" : "OVER")
  printf "  with the Mini Monitor  CPU %5.2f %% of one core   RSS %.1f MB (peak %.1f)\n", m, mrss / 1024, mhwm / 1024
  printf "  the Mini Monitor adds  CPU %+5.2f %% of one core   target <= 0.3 %%   %s\n", m - g, (m - g <= 0.3 ? "ok" : "OVER")
}'
