#!/usr/bin/env bash
# Installs Tarnwatch from the build tree with the layout of the Debian
# packages (cmake/Install.cmake holds it): tarnix, tarnixd and tarnixctl to
# PREFIX/bin, the privileged helper tarnix-helper to PREFIX/libexec/tarnwatch/,
# the systemd unit (disabled), manual pages, desktop entry, icons and AppStream
# data under PREFIX. Then the helper gets its group, mode and file
# capabilities from packaging/set-helper-privileges, the script the package's
# postinst runs as well.
#
# As packet-capture tools do with theirs, the helper may be run only by root
# and the members of the group tarnwatch (created when missing): a user who
# should be able to kill connections from the desktop program is added with
#     usermod -aG tarnwatch USER
# and logs in again. Run as root:  make install  (PREFIX=/usr/local by default)
#
# Usage: scripts/install.sh [BUILD-DIR]   (PREFIX from the environment)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
prefix=${PREFIX:-/usr/local}

if [ "$(id -u)" -ne 0 ]; then
  echo "install: run as root (sudo make install): the helper gets file capabilities" >&2
  exit 1
fi
if [ ! -x "$build/tarnix-helper" ]; then
  echo "install: $build/tarnix-helper is missing; build first (make build)" >&2
  exit 1
fi

cmake --install "$build" --prefix "$prefix"

helper="$prefix/libexec/tarnwatch/tarnix-helper"
if ! "$prefix/libexec/tarnwatch/set-helper-privileges" "$helper"; then
  echo "install: $helper has no capabilities; closing connections will ask for administrator privileges" >&2
  exit 1
fi
echo "installed $helper (root:tarnwatch 0750, $(getcap "$helper" | cut -d' ' -f2-))"
if [ -d /run/systemd/system ]; then
  systemctl daemon-reload || true
  echo "tarnixd.service is installed disabled: systemctl enable --now tarnixd.service"
fi
echo "Users in the group tarnwatch may use the helper: usermod -aG tarnwatch USER, then log in again."
