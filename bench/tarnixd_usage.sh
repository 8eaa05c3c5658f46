#!/usr/bin/env bash
# Resource use of tarnixd while it samples at 50 ms: CPU time (utime + stime
# from /proc/PID/stat) over a span, as % of one core, its wake-ups (voluntary
# context switches of all its threads per second) and resident memory (VmRSS
# now, VmHWM the peak), against the targets of at most 30 wake-ups a second
# and 6 MB. Its CPU target is relative, at most a fifth of bmon's in the same
# run: bench/side_by_side.sh measures that.
#
# Usage: bench/tarnixd_usage.sh [BUILD_DIR] [SECONDS]
#
# As root it runs tarnixd in a throwaway network namespace (lo and one veth
# pair) with a private /dev/shm, so it touches nothing else; otherwise it runs
# on the machine's interfaces (it only reads counters) with a private runtime
# folder. Either way the settings and logs go to a temporary folder.
set -euo pipefail
# shellcheck source=scripts/session_lib.sh
. "$(dirname "$0")/../scripts/session_lib.sh"

build=${1:-build}
span=${2:-30}
warmup=2
tarnixd="$build/tarnixd"
[ -x "$tarnixd" ] || { echo "tarnixd_usage: $tarnixd not built" >&2; exit 1; }
tarnixd=$(readlink -f "$tarnixd")

work=$(mktemp -d /tmp/tw-usage-XXXXXX)
mkdir -p "$work/run" "$work/data" "$work/shm"
chmod 700 "$work/run"
# Sampling period index 0: (0 + 1) x 50 ms.
printf '[Traffic]\nThread-Responce=0\n' >"$work/data/tarnix_$(id -un)@$(hostname).ini"

ns=""
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  [ -n "$ns" ] && ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

args=(--quiet --data-dir "$work/data")
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null; then
  ns="twt-usage-$$"
  ip netns add "$ns"
  ip netns exec "$ns" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6' 2>/dev/null || true
  ip -n "$ns" link set lo up
  ip -n "$ns" link add twu0 type veth peer name twu1
  ip -n "$ns" link set twu0 up
  ip -n "$ns" link set twu1 up
  # ip netns exec and sh exec in turn, so $! is tarnixd's pid.
  ip netns exec "$ns" sh -c 'shm=$1 run=$2; shift 2; mount --bind "$shm" /dev/shm && exec env XDG_RUNTIME_DIR="$run" "$@"' \
    sh "$work/shm" "$work/run" "$tarnixd" "${args[@]}" --interface twu0 &
  pid=$!
  where="namespace $ns (lo + veth pair)"
else
  XDG_RUNTIME_DIR="$work/run" "$tarnixd" "${args[@]}" &
  pid=$!
  where="this machine's interfaces"
fi

sleep "$warmup"
if ! kill -0 "$pid" 2>/dev/null; then
  echo "tarnixd_usage: tarnixd ended early" >&2
  exit 1
fi

wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
w0=$(wakeups "$pid")
measure_usage "$pid" "$span"
w1=$(wakeups "$pid")

awk -v t0="$t0" -v t1="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" -v rss="$rss" -v hwm="$hwm" \
    -v where="$where" -v threads="$threads" -v w0="$w0" -v w1="$w1" 'BEGIN {
  wall = s1 - s0
  cpu = (t1 - t0) / hz
  pct = 100 * cpu / wall
  wake = (w1 - w0) / wall
  printf "tarnixd usage over %.1f s of sampling at 50 ms on %s (%d threads)\n", wall, where, threads
  printf "  CPU      %.3f %% of one core (%.2f s)   (against bmon: bench/side_by_side.sh)\n", pct, cpu
  printf "  wake-ups %.1f a second                  target <= 30   %s\n", wake, (wake <= 30 ? "ok" : "OVER")
  printf "  VmRSS    %.2f MB                        target <= 6 MB %s\n", rss / 1024, (rss / 1024 <= 6 ? "ok" : "OVER")
  printf "  VmHWM    %.2f MB (peak)\n", hwm / 1024
}'
# Where the resident memory is: anonymous (heap, stacks, malloc arenas) and
# file-backed, by mapping (the program, each library), largest first. A
# machine with a system bus or a service manager maps libsystemd as well.
awk '/^[0-9a-f]+-[0-9a-f]+ / { name = NF >= 6 ? $6 : "[anonymous]" }
     /^Rss:/ { rss[name] += $2 }
     /^Anonymous:/ { anon += $2 }
     END {
       for (n in rss) total += rss[n]
       printf "  resident %d kB: %d kB anonymous, %d kB file-backed; by mapping (kB):\n", total, anon, total - anon
       for (n in rss) if (rss[n] >= 16) printf "    %6d  %s\n", rss[n], n | "sort -rn"
     }' "/proc/$pid/smaps" 2>/dev/null
