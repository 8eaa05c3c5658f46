#!/usr/bin/env bash
# Installs Tarnwatch: tarnix, tarnixd and tarnixctl to PREFIX/bin, and the
# privileged helper tarnix-helper to PREFIX/libexec/tarnwatch/ with the file
# capabilities its operations need (closing connections, process names of
# other users' sockets, packet capture and the packet filter).
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
caps=cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace+ep

if [ "$(id -u)" -ne 0 ]; then
  echo "install: run as root (sudo make install): the helper gets file capabilities" >&2
  exit 1
fi
if [ ! -x "$build/tarnix-helper" ]; then
  echo "install: $build/tarnix-helper is missing; build first (make build)" >&2
  exit 1
fi

install -d -m 0755 "$prefix/bin" "$prefix/libexec/tarnwatch"
for prog in src/ui/tarnix tarnixd tarnixctl; do
  if [ -x "$build/$prog" ]; then
    install -m 0755 "$build/$prog" "$prefix/bin/"
    echo "installed $prefix/bin/$(basename "$prog")"
  else
    echo "install: $build/$prog was not built; skipped"
  fi
done

getent group tarnwatch >/dev/null || groupadd --system tarnwatch
helper="$prefix/libexec/tarnwatch/tarnix-helper"
# Owner and mode first: changing the owner of a file clears its capabilities.
install -m 0750 -o root -g tarnwatch "$build/tarnix-helper" "$helper"
if ! setcap "$caps" "$helper"; then
  echo "install: setcap failed on $helper (a file system without extended attributes?);" \
       "closing connections will ask for administrator privileges" >&2
  exit 1
fi
echo "installed $helper (root:tarnwatch 0750, $(getcap "$helper" | cut -d' ' -f2-))"
echo "Users in the group tarnwatch may use it: usermod -aG tarnwatch USER, then log in again."
