#!/usr/bin/env bash
# Starts the desktop program when a display is available, otherwise the
# headless daemon in the foreground.
set -euo pipefail
build=${1:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/src/ui/tarnix" ]; then
  exec "$build/src/ui/tarnix"
fi
exec "$build/tarnixd"
