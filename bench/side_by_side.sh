#!/usr/bin/env bash
# tarnixd and tarnix side by side with the monitors users would pick instead,
# in one run, on the same interface, at the same 50 ms refresh:
#
#   phase 1: tarnixd (sampling every 50 ms) as it comes, tarnixd with the
#            traffic monitor alone ("Session"/"AutoStart"=0: no session
#            refresh every 500 ms, which bmon and nload do not do either),
#            bmon -r 0.05 and nload -t 50
#   phase 2: tarnix on a virtual X server, Traffic Monitor graph on view
#            (redraw and sampling every 50 ms), bmon and nload beside it
#   phase 3: a second tarnix with its Mini Monitor open as well, measured
#            beside the first
#
# In phases 2 and 3, qt_floor (bench/qt_floor.cpp) runs beside tarnix: a
# bare Qt window redrawn as often as the graph, over the same rectangle, and
# a second copy with a small window redrawn as often as the Mini Monitor.
# What they take is what any Qt program redrawn that often pays on this
# machine for its timers and for painting and flushing each frame; tarnix's
# share above it is its own work (sampling, drawing the graph, the monitors
# that run behind it).
#
# For each program: its CPU share (time on a CPU of all its threads, from
# /proc/PID/task/*/schedstat, as % of one core), its wake-ups (voluntary
# context switches of all threads, per second) and its resident memory
# (VmRSS), then the ratios and figures against their targets, and the
# machine's load (load average, and how busy its CPUs were over each phase:
# the figures of a busy machine run high).
#
# Usage: bench/side_by_side.sh [BUILD_DIR] [SECONDS]   (default: build, 30)
#
# Needs root: every program runs inside a network namespace of its own with
# one veth pair to a second namespace, over which a steady stream of UDP
# (about 2 MB/s) flows, so the traffic is real, local and touches nothing
# else; tarnixd and tarnix get a private /dev/shm, runtime folder and data
# folder. bmon and nload are installed (apt-get) when missing. Each monitor
# draws into a pseudo-terminal of 80x24 as it would in a terminal window. The
# X server's own work is not counted. Everything started here is ended and
# removed, also on failure. A program that cannot run is reported and the
# others still measured.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/session_lib.sh
. "$here/scripts/session_lib.sh"

build=${1:-build}
span=${2:-30}
warmup=4
tarnixd="$build/tarnixd"
tarnix="$build/src/ui/tarnix"
qt_floor="$build/qt_floor"

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v python3 >/dev/null; then
  echo "side_by_side: needs root, iproute2 and python3 (network namespaces of its own)" >&2
  exit 1
fi
[ -x "$tarnixd" ] || { echo "side_by_side: $tarnixd not built" >&2; exit 1; }
tarnixd=$(readlink -f "$tarnixd")
[ -x "$tarnix" ] && tarnix=$(readlink -f "$tarnix") || tarnix=""
[ -x "$qt_floor" ] || qt_floor=""

# The tools to compare with, from the distribution.
missing=""
for tool in bmon nload; do command -v "$tool" >/dev/null || missing="$missing $tool"; done
if [ -n "$missing" ] && command -v apt-get >/dev/null; then
  echo "side_by_side: installing$missing" >&2
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null 2>&1 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null 2>&1; }
fi

work=$(mktemp -d /tmp/tw-sbs-XXXXXX)
ns="twt-sbs-$$"
pids=()
xvfb_pid=""
app_pid=""
graph_pid=""
load_pid=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -n "$app_pid" ] && stop_gently "$app_pid"
  [ -n "$graph_pid" ] && stop_gently "$graph_pid"
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  ip netns del "$ns-a" 2>/dev/null
  ip netns del "$ns-b" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---- the namespaces, the cable and the traffic -----------------------------
set -e
ip netns add "$ns-a"
ip netns add "$ns-b"
for side in a b; do
  ip netns exec "$ns-$side" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6'
  ip -n "$ns-$side" link set lo up
done
ip -n "$ns-a" link add sbs0 type veth peer name sbs1 netns "$ns-b"
ip -n "$ns-a" addr add 10.232.7.1/24 dev sbs0
ip -n "$ns-b" addr add 10.232.7.2/24 dev sbs1
ip -n "$ns-a" link set sbs0 up
ip -n "$ns-b" link set sbs1 up
set +e

ip netns exec "$ns-b" python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("10.232.7.2", 40100))
while True: s.recv(65536)' >/dev/null 2>&1 &
pids+=($!)
# 40 datagrams of 1200 bytes every 25 ms: about 1.9 MB/s, steady.
ip netns exec "$ns-a" python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
payload = b"x" * 1200
nxt = time.monotonic()
while True:
    for _ in range(40): s.sendto(payload, ("10.232.7.2", 40100))
    nxt += 0.025
    time.sleep(max(0.0, nxt - time.monotonic()))' >/dev/null 2>&1 &
pids+=($!)

# A program in a pseudo-terminal of 80x24 whose output is read and dropped,
# as a terminal window would. Writes the program's pid to $1, then runs it.
cat >"$work/in_pty.py" <<'EOF'
import fcntl, os, pty, struct, sys, termios
pid, fd = pty.fork()
if pid == 0:
    os.environ["TERM"] = "xterm"
    os.execvp(sys.argv[2], sys.argv[2:])
fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
with open(sys.argv[1], "w") as f:
    f.write(str(pid))
try:
    while os.read(fd, 65536):
        pass
except OSError:
    pass
os.waitpid(pid, 0)
EOF

# Starts "$2..." in a pseudo-terminal in namespace a; sets the global
# variable named $1 to the program's pid (empty when it did not start).
start_in_pty() {
  local var=$1
  shift
  rm -f "$work/$var.pid"
  ip netns exec "$ns-a" python3 "$work/in_pty.py" "$work/$var.pid" "$@" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$work/$var.pid" ] && break; sleep 0.1; done
  printf -v "$var" '%s' "$(cat "$work/$var.pid" 2>/dev/null)"
}

# ---- measuring ---------------------------------------------------------------
# "CPU_NS WAKEUPS" of process $1: time on a CPU and voluntary context
# switches, summed over its threads.
usage_of() {
  local c=0 v=0 t run sw
  for t in /proc/"$1"/task/*; do
    read -r run _ <"$t/schedstat" 2>/dev/null || continue
    sw=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$t/status" 2>/dev/null)
    c=$((c + run))
    v=$((v + ${sw:-0}))
  done
  echo "$c $v"
}
# Busy and total jiffies of all CPUs.
machine_of() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9 }' /proc/stat; }

# Measures the processes named by "label=pid" arguments for $span seconds.
# Leaves one line per program in $work/figures ("label cpu% wakeups/s rssMB")
# and the machine's figures in $work/machine.
measure() {
  local item label pid
  declare -A c0 v0
  for item in "$@"; do
    label=${item%%=*}
    pid=${item#*=}
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || continue
    read -r c0[$label] v0[$label] < <(usage_of "$pid")
  done
  read -r busy0 all0 < <(machine_of)
  local load0 s0 s1
  load0=$(cut -d' ' -f1 /proc/loadavg)
  s0=$(date +%s.%N)
  sleep "$span"
  s1=$(date +%s.%N)
  read -r busy1 all1 < <(machine_of)
  : >"$work/figures"
  for item in "$@"; do
    label=${item%%=*}
    pid=${item#*=}
    if [ -z "$pid" ] || [ ! -d "/proc/$pid" ] || [ -z "${c0[$label]:-}" ]; then
      echo "$label - - -" >>"$work/figures"
      continue
    fi
    read -r c1 v1 < <(usage_of "$pid")
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
    awk -v l="$label" -v c0="${c0[$label]}" -v c1="$c1" -v v0="${v0[$label]}" -v v1="$v1" -v rss="$rss" \
        -v s0="$s0" -v s1="$s1" 'BEGIN { w = s1 - s0; printf "%s %.3f %.1f %.2f\n", l, 100 * (c1 - c0) / 1e9 / w, (v1 - v0) / w, rss / 1024 }' \
        >>"$work/figures"
  done
  awk -v b0="$busy0" -v b1="$busy1" -v a0="$all0" -v a1="$all1" -v l0="$load0" -v l1="$(cut -d' ' -f1 /proc/loadavg)" \
      -v n="$(nproc)" -v s0="$s0" -v s1="$s1" 'BEGIN {
    printf "machine: %d CPUs, %.0f %% busy over the %.1f s, load average %s at the start, %s at the end\n",
           n, 100 * (b1 - b0) / (a1 - a0), s1 - s0, l0, l1 }' >"$work/machine"
}

# The figure of program $1 in column $2 (2 CPU %, 3 wake-ups/s, 4 RSS MB); "-" when unmeasured.
fig() { awk -v l="$1" -v c="$2" '$1 == l { print $c }' "$work/figures"; }

print_table() {
  printf '  %-24s %10s %12s %9s\n' "program" "CPU %" "wake-ups/s" "RSS MB"
  awk '{ printf "  %-24s %10s %12s %9s\n", $1, $2, $3, $4 }' "$work/figures"
  echo "  $(cat "$work/machine")"
}

# "ok", "OVER" or "-" for figure $1 against the limit $2 (at most).
verdict() { awk -v f="$1" -v t="$2" 'BEGIN { if (f == "-" || f == "") print "-"; else print (f + 0 <= t + 0 ? "ok" : "OVER") }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }

status=0
bmon_pid=""
nload_pid=""
if command -v bmon >/dev/null; then start_in_pty bmon_pid bmon -r 0.05 -p sbs0; else echo "side_by_side: no bmon" >&2; fi
if command -v nload >/dev/null; then start_in_pty nload_pid nload -t 50 sbs0; else echo "side_by_side: no nload" >&2; fi

# ---- phase 1: tarnixd ---------------------------------------------------------
# Starts tarnixd in namespace a with its own folders under $work/$1 and the
# settings lines $2; sets the variable named $3 to its pid (empty when it
# ended early).
start_tarnixd() {
  local dir="$work/$1" pid
  mkdir -p "$dir/run" "$dir/data" "$dir/shm"
  chmod 700 "$dir/run"
  printf '%s' "$2" >"$dir/data/tarnix_$(id -un)@$(hostname).ini"
  # ip netns exec and sh exec in turn, so $! is tarnixd's pid.
  ip netns exec "$ns-a" sh -c 'd=$1; shift; mount --bind "$d/shm" /dev/shm && exec env XDG_RUNTIME_DIR="$d/run" "$@"' \
    sh "$dir" "$tarnixd" --quiet --data-dir "$dir/data" --interface sbs0 >"$dir/out" 2>&1 &
  pid=$!
  pids+=("$pid")
  printf -v "$3" '%s' "$pid"
}
start_tarnixd d "[Traffic]
Thread-Responce=0
" tarnixd_pid
start_tarnixd t "[Traffic]
Thread-Responce=0
[Session]
AutoStart=0
" traffic_pid
sleep "$warmup"
for var in tarnixd_pid traffic_pid; do
  if ! kill -0 "${!var}" 2>/dev/null; then
    echo "side_by_side: tarnixd ended early:" >&2
    cat "$work/d/out" "$work/t/out" >&2
    printf -v "$var" '%s' ""
    status=1
  fi
done

echo "== side by side on one veth at 50 ms, ${span} s per phase"
echo "phase 1: tarnixd as it comes, tarnixd with the traffic monitor alone, bmon -r 0.05, nload -t 50"
measure tarnixd="$tarnixd_pid" tarnixd-traffic="$traffic_pid" bmon="$bmon_pid" nload="$nload_pid"
print_table
for which in tarnixd tarnixd-traffic; do
  d_cpu=$(fig "$which" 2)
  d_ratio=$(ratio "$d_cpu" "$(fig bmon 2)")
  printf '  %-24s %-8s target <= 0.20   %s   (/ nload: %s)\n' "$which CPU / bmon CPU" "$d_ratio" \
    "$(verdict "$d_ratio" 0.20)" "$(ratio "$d_cpu" "$(fig nload 2)")"
  printf '  %-24s %-8s target <= 30     %s\n' "$which wake-ups/s" "$(fig "$which" 3)" "$(verdict "$(fig "$which" 3)" 30)"
  printf '  %-24s %-8s target <= 6      %s\n' "$which RSS MB" "$(fig "$which" 4)" "$(verdict "$(fig "$which" 4)" 6)"
done
for p in $tarnixd_pid $traffic_pid; do kill "$p" 2>/dev/null; done

# ---- phases 2 and 3: tarnix under Xvfb ------------------------------------------
if [ -z "$tarnix" ]; then
  echo "phase 2: tarnix not built ($build/src/ui/tarnix): skipped"
  exit $status
fi
if ! command -v Xvfb >/dev/null; then
  echo "phase 2: Xvfb is missing (apt-get install xvfb): skipped"
  exit 1
fi
start_xvfb "$work" side_by_side || exit 1

# Runs tarnix as a portable copy in $work/$1 sampling sbs0, with the lines
# $2 added to its [Settings]; sets app_pid.
start_tarnix() {
  local dir="$work/$1"
  mkdir -p "$dir/app" "$dir/home" "$dir/shm"
  mkdir -m 700 "$dir/run"
  cp "$tarnix" "$dir/app/tarnix"
  printf '[Settings]\nInterfaceName=sbs0\n%s' "$2" >"$dir/app/tarnix_$(id -un)@$(hostname).ini"
  ip netns exec "$ns-a" sh -c 'd=$1 display=$2; mount --bind "$d/shm" /dev/shm && cd "$d/app" &&
      exec env -u XDG_CONFIG_HOME HOME="$d/home" XDG_RUNTIME_DIR="$d/run" DISPLAY="$display" QT_QPA_PLATFORM=xcb ./tarnix' \
    sh "$dir" "$display" >"$dir/tarnix.log" 2>&1 &
  app_pid=$!
  sleep "$warmup"
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "side_by_side: tarnix ended early:" >&2
    cat "$dir/tarnix.log" >&2
    app_pid=""
    return 1
  fi
}

# Starts qt_floor with arguments "$2..." on the X server; sets the variable
# named $1 to its pid (empty when it is not built or ended early).
start_floor() {
  local var=$1 pid
  shift
  printf -v "$var" '%s' ""
  [ -n "$qt_floor" ] || return 0
  DISPLAY="$display" QT_QPA_PLATFORM=xcb "$qt_floor" "$@" >"$work/$var.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  sleep 1
  if kill -0 "$pid" 2>/dev/null; then
    printf -v "$var" '%s' "$pid"
  else
    echo "side_by_side: qt_floor ended early:" >&2
    cat "$work/$var.log" >&2
  fi
}
# tarnix's graph at its default size copies 787 x 152 to 787 x 252 pixels
# to the window a frame with traffic flowing (the bars and the speed line,
# down to the panel's lowest changed figure); its Mini Monitor is 214 x 107.
start_floor floor_pid --graph 787x200
[ -n "$qt_floor" ] || echo "side_by_side: $build/qt_floor not built: no floor figures" >&2
difference() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || a == "" || b == "") print "-"; else printf "%.3f", a - b }'; }

start_tarnix graph "" || status=1
echo "phase 2: tarnix, Traffic Monitor graph on view (redraw and sampling every 50 ms), under Xvfb, beside qt_floor"
measure tarnix="$app_pid" qt-floor="$floor_pid" bmon="$bmon_pid" nload="$nload_pid"
print_table
g_cpu=$(fig tarnix 2)
g_rss=$(fig tarnix 4)
printf '  tarnix CPU %%             %-8s target <= 1.5    %s   (/ bmon: %s)\n' "$g_cpu" "$(verdict "$g_cpu" 1.5)" \
  "$(ratio "$g_cpu" "$(fig bmon 2)")"
printf '  tarnix RSS MB            %-8s target <= 60     %s\n' "$g_rss" "$(verdict "$g_rss" 60)"
printf '  Qt floor, graph CPU %%    %-8s (a bare Qt window redrawn every 50 ms; tarnix above it: %s)\n' \
  "$(fig qt-floor 2)" "$(difference "$g_cpu" "$(fig qt-floor 2)")"

# The Mini Monitor's share is a difference of two figures that each move by
# a few tenths between windows of time: both copies are measured in the same
# window, under the same load.
graph_pid=$app_pid
start_tarnix mini "MiniMonitor=1
" || status=1
start_floor floor_mini_pid --graph 787x200 --mini 214x107
echo "phase 3: a second tarnix with the Mini Monitor open as well, beside the first; qt_floor likewise"
measure tarnix="$graph_pid" tarnix+mini="$app_pid" qt-floor="$floor_pid" qt-floor+mini="$floor_mini_pid" \
  bmon="$bmon_pid" nload="$nload_pid"
print_table
m_add=$(difference "$(fig tarnix+mini 2)" "$(fig tarnix 2)")
printf '  Mini Monitor adds CPU %%  %-8s target <= 0.3    %s\n' "$m_add" "$(verdict "$m_add" 0.3)"
printf '  Qt floor, small window   %-8s (a bare second window redrawn every 100 ms)\n' \
  "$(difference "$(fig qt-floor+mini 2)" "$(fig qt-floor 2)")"
stop_gently "$graph_pid"
graph_pid=""
exit $status
