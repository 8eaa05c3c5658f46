#!/usr/bin/env bash
# Resource use of tarnixd while its Session Monitor refreshes every 500 ms
# over 1000 established TCP connections held by 50 processes: CPU time (utime
# + stime from /proc/PID/stat) over a span, as % of one core, and resident
# memory (VmRSS now, VmHWM the peak). The traffic sampler runs at its default
# period beside it, as in any tarnixd.
#
# Usage: bench/tarnixd_sessions_usage.sh [BUILD_DIR] [SECONDS]
#
# Needs root: tarnixd, the connections (build/session_refresh_bench
# --hold-connections) and a private /dev/shm live in a throwaway network
# namespace, so nothing else is touched; settings and logs go to a temporary
# folder.
set -euo pipefail
# shellcheck source=scripts/session_lib.sh
. "$(dirname "$0")/../scripts/session_lib.sh"

build=${1:-build}
span=${2:-30}
warmup=3
tarnixd="$build/tarnixd"
holder="$build/session_refresh_bench"
for prog in "$tarnixd" "$holder"; do
  [ -x "$prog" ] || { echo "tarnixd_sessions_usage: $prog not built" >&2; exit 1; }
done
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
  echo "tarnixd_sessions_usage: needs root and iproute2 (a network namespace of its own)" >&2
  exit 1
fi
tarnixd=$(readlink -f "$tarnixd")
holder=$(readlink -f "$holder")

work=$(mktemp -d /tmp/tw-susage-XXXXXX)
mkdir -p "$work/run" "$work/data" "$work/shm"
chmod 700 "$work/run"
# The Session Monitor starts by itself (its default); said here so that a
# changed default does not quietly measure nothing.
printf '[Session]\nAutoStart=1\n' >"$work/data/tarnix_$(id -un)@$(hostname).ini"

ns="twt-susage-$$"
pid=""
holder_pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null && wait "$holder_pid" 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip netns exec "$ns" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6' 2>/dev/null || true
ip -n "$ns" link set lo up

ip netns exec "$ns" "$holder" --hold-connections >"$work/holder.out" 2>&1 &
holder_pid=$!
for _ in $(seq 100); do
  grep -q ready "$work/holder.out" 2>/dev/null && break
  kill -0 "$holder_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q ready "$work/holder.out"; then
  echo "tarnixd_sessions_usage: the connections did not come up:" >&2
  cat "$work/holder.out" >&2
  exit 1
fi
established=$(ip netns exec "$ns" ss -Htn state established | wc -l)

ip netns exec "$ns" sh -c 'shm=$1 run=$2; shift 2; mount --bind "$shm" /dev/shm && exec env XDG_RUNTIME_DIR="$run" "$@"' \
  sh "$work/shm" "$work/run" "$tarnixd" --quiet --data-dir "$work/data" --interface lo &
pid=$!

sleep "$warmup"
if ! kill -0 "$pid" 2>/dev/null; then
  echo "tarnixd_sessions_usage: tarnixd ended early" >&2
  exit 1
fi

measure_usage "$pid" "$span"

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" -v rss="$rss" -v hwm="$hwm" \
    -v conns="$established" -v threads="$threads" 'BEGIN {
  wall = s1 - s0
  cpu = (t1 - t0) / hz
  printf "tarnixd with the session refresh every 500 ms over %d established connections (50 processes),\n", conns
  printf "measured for %.1f s (%d threads)\n", wall, threads
  printf "  CPU      %.3f %% of one core (%.2f s)\n", 100 * cpu / wall, cpu
  printf "  VmRSS    %.2f MB\n", rss / 1024
  printf "  VmHWM    %.2f MB (peak)\n", hwm / 1024
}'
