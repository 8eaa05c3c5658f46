#!/bin/sh
# Starts tarnix on a virtual X server (Xvfb) as a new user would start it and
# saves a screenshot of the screen, so anyone can look at the program without
# a display.
#
#   scripts/screenshot.sh [OUTPUT.png] [SECONDS]
#
# OUTPUT defaults to tarnix-screenshot.png in the current folder, SECONDS (how
# long tarnix runs before the picture is taken) to 6. The tarnix binary is
# taken from $TARNIX, else from build/src/ui/tarnix.
#
# "As a new user": tarnix runs as a portable copy in an empty temporary
# folder (which becomes its data folder), with a fresh HOME and runtime
# folder, so no settings of yours are read or changed and a running instance
# is not disturbed. While it runs, a little traffic is sent over loopback, so
# the graph has something to show; as a fresh start samples the interface of
# the default route, where that traffic never passes, the script's settings
# file chooses loopback ("Settings"/"InterfaceName"), its only setting.
# Needs Xvfb and ImageMagick's import (or xwd and convert); python3 for the
# traffic. Everything it starts is ended and removed again, also on failure.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/session_lib.sh
. "$here/scripts/session_lib.sh"
out=${1:-tarnix-screenshot.png}
secs=${2:-6}
tarnix=${TARNIX:-$here/build/src/ui/tarnix}

if [ ! -x "$tarnix" ]; then
  echo "screenshot: no tarnix at $tarnix (build it first: make run, or cmake --build build --target tarnix)" >&2
  exit 1
fi
command -v Xvfb >/dev/null || { echo "screenshot: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
if command -v import >/dev/null; then
  grab=import
elif command -v xwd >/dev/null && command -v convert >/dev/null; then
  grab=xwd
else
  echo "screenshot: no screen grabber (apt-get install imagemagick)" >&2
  exit 1
fi
case $out in /*) ;; *) out=$(pwd)/$out ;; esac

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnix-shot.XXXXXX")
xvfb_pid=
app_pid=
load_pid=
trap stop_session EXIT
trap 'exit 1' INT TERM HUP

start_xvfb "$work" screenshot || exit 1

# Loopback only, at a rate that rises and falls.
start_loopback_load '
chunk = b"\0" * 65536
start = time.time()
while True:
    t = time.time() - start
    rate = 4e6 * (1.2 + math.sin(t * 1.3)) * (1.5 + math.sin(t * 0.37))  # bytes/s
    out.sendall(chunk)
    time.sleep(len(chunk) / rate)'

start_tarnix_copy "$work" "$tarnix" "$display" "[Settings]
InterfaceName=lo"

sleep "$secs"
if ! kill -0 "$app_pid" 2>/dev/null; then
  echo "screenshot: tarnix ended early:" >&2
  cat "$work/tarnix.log" >&2
  exit 1
fi
if [ "$grab" = import ]; then
  import -display "$display" -window root "$out"
else
  xwd -display "$display" -root -silent | convert xwd:- "$out"
fi
echo "screenshot: $out"
