# Shell functions for the scripts that start tarnix or tarnixd on their own to
# look at them (scripts/screenshot.sh, bench/*_usage.sh). Sourced, never run;
# plain POSIX sh so that sh and bash scripts can both use it. Each function
# reports through the variables it names, as a shell function has no other
# way to hand back more than one value.

# Starts a virtual X server on a free display number that Xvfb picks itself.
# $1: work folder (gets "display" and "xvfb.log"), $2: name for messages.
# Sets xvfb_pid, and display (":N"); returns 1 if Xvfb does not come up.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$1/display" 2>"$1/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -s "$1/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$1/display" ]; then
    echo "$2: Xvfb did not start:" >&2
    cat "$1/xvfb.log" >&2
    return 1
  fi
  display=:$(cat "$1/display")
}

# Starts tarnix "as a new user": a portable copy of binary $2 in $1/app (the
# copy makes that folder its data folder), with a fresh HOME and runtime
# folder under work folder $1, on X display $3. $4, when given, is written
# to the settings file first (tarnix_USER@HOST.ini). Output goes to
# $1/tarnix.log. Sets app_pid.
start_tarnix_copy() {
  mkdir "$1/app" "$1/home"
  mkdir -m 700 "$1/run"
  if [ -n "${4:-}" ]; then
    printf '%s\n' "$4" >"$1/app/tarnix_$(id -un)@$(hostname).ini"
  fi
  cp "$2" "$1/app/tarnix"
  (cd "$1/app" && exec env -u XDG_CONFIG_HOME HOME="$1/home" XDG_RUNTIME_DIR="$1/run" \
     DISPLAY="$3" QT_QPA_PLATFORM=xcb ./tarnix) >"$1/tarnix.log" 2>&1 &
  app_pid=$!
}

# Keeps traffic flowing over loopback so that the graph has something to draw
# (when tarnix samples loopback: a fresh start samples the interface of the
# default route, which this traffic never passes): a local receiver and a
# sender paced by $1, Python lines that get `out` (the connected socket) and
# the modules time and math. Sets load_pid; left empty without python3.
start_loopback_load() {
  load_pid=
  command -v python3 >/dev/null || return 0
  python3 -c "import socket, threading, time, math
srv = socket.socket(); srv.bind((\"127.0.0.1\", 0)); srv.listen(1)
def sink():
    c, _ = srv.accept()
    while c.recv(1 << 16):
        pass
threading.Thread(target=sink, daemon=True).start()
out = socket.create_connection(srv.getsockname())
$1" >/dev/null 2>&1 &
  load_pid=$!
}

# Ends process $1 (nothing if empty): SIGTERM, up to 5 s for its own
# shut-down, then SIGKILL.
stop_gently() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  for _ in $(seq 25); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.2
  done
  kill -9 "$1" 2>/dev/null || true
}

# Ends what a session started: the loopback load, tarnix (through its own
# shut-down), Xvfb, then removes the session folder. Reads $load_pid,
# $app_pid, $xvfb_pid and $work; meant for an EXIT trap.
stop_session() {
  [ -n "${load_pid:-}" ] && kill "$load_pid" 2>/dev/null || true
  stop_gently "${app_pid:-}"
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${work:-}" ] && rm -rf "$work"
}

# CPU clock ticks process $1 has used: utime + stime, fields 14 and 15 of
# /proc/PID/stat, counted after the ")" of comm (which may hold blanks).
cpu_ticks() {
  sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}

# Watches process $1 for $2 seconds. Sets t0 and t1 (CPU ticks before and
# after), hz (ticks per second), s0 and s1 (wall clock, seconds), and from
# /proc/PID/status at the end rss and hwm (kB) and threads.
measure_usage() {
  hz=$(getconf CLK_TCK)
  t0=$(cpu_ticks "$1")
  s0=$(date +%s.%N)
  sleep "$2"
  t1=$(cpu_ticks "$1")
  s1=$(date +%s.%N)
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status")
  hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$1/status")
  threads=$(awk '/^Threads:/ { print $2 }' "/proc/$1/status")
}
