#!/usr/bin/env bash
# Builds the Debian packages from this build tree, installs them with apt-get
# as a user would, looks at what they did, runs the installed programs, and
# removes and purges them again:
#   - the control data: version, maintainer, dependencies (none on Qt for
#     tarnwatch-daemon), licence, the files each package holds;
#   - the helper: root:tarnwatch 0750 with its four capabilities (or the
#     postinst's message when the file system cannot hold them), runnable by
#     the group and not by others; the message on a file system without
#     extended attributes;
#   - tarnixd started from its unit when systemd runs (otherwise the installed
#     tarnixd in a mount namespace of its own), then `tarnixctl status`;
#   - remove keeps /var/lib/tarnwatch, purge takes it; afterwards nothing of
#     the packages is left but the group tarnwatch.
#
# Root only. Never touches an installation of Tarnwatch: it skips when the
# packages, /usr/libexec/tarnwatch or /var/lib/tarnwatch are there already.
# Whatever happens, it purges what it installed, ends what it started and
# removes the group again if it made it.
#
# Usage: install_test.sh BUILD-DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (installs packages)"
for tool in apt-get dpkg-deb dpkg-shlibdeps cpack getcap setpriv unshare; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
for p in tarnwatch tarnwatch-daemon; do
  state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ -z "$state" ] || [ "$state" = not-installed ] || skip "$p is on this machine ($state); it is left alone"
done
for path in /usr/libexec/tarnwatch /var/lib/tarnwatch; do
  [ ! -e "$path" ] || skip "$path exists; it is left alone"
done

work=$(mktemp -d /tmp/tw-pkgtest.XXXXXX)
group_was_there=$(getent group tarnwatch || true)
installed=0
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cleanup() {
  set +e
  if [ "$installed" -eq 1 ]; then
    if [ -d /run/systemd/system ]; then systemctl stop tarnixd.service >/dev/null 2>&1; fi
    dpkg --purge tarnwatch tarnwatch-daemon >/dev/null 2>&1
  fi
  rm -rf "$work"
  if [ -z "$group_was_there" ] && getent group tarnwatch >/dev/null; then groupdel tarnwatch; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---------------------------------------------------------------------------
# Build.
start=$(date +%s)
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
echo "packages built in $(($(date +%s) - start)) s"
daemon_deb=$(ls "$work"/pkg/tarnwatch-daemon_*.deb)
desktop_deb=$(ls "$work"/pkg/tarnwatch_*.deb 2>/dev/null || true)
if [ -x "$build/src/ui/tarnix" ] && [ -z "$desktop_deb" ]; then fail "no package tarnwatch"; fi
debs=("$daemon_deb")
[ -z "$desktop_deb" ] || debs+=("$desktop_deb")

field() { dpkg-deb -f "$1" "$2"; }
contents() { dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|'; }

version=$(field "$daemon_deb" Version)
project=$(sed -n 's/^project(Tarnwatch VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
case $version in
  "$project" | "$project"[~+]git*) ;;
  *) fail "version $version does not come from the project's $project" ;;
esac
if command -v git >/dev/null && git -C "$here" rev-parse HEAD >/dev/null 2>&1; then
  hash=$(git -C "$here" rev-parse --short=7 HEAD)
  if ! git -C "$here" describe --exact-match --tags --match "v$project" HEAD >/dev/null 2>&1; then
    case $version in *".$hash") ;; *) fail "snapshot version $version does not name commit $hash" ;; esac
  fi
fi
for deb in "${debs[@]}"; do
  field "$deb" Maintainer | grep -Eq '^[^<]+ <[^@ ]+@[^> ]+>$' || fail "$deb: maintainer line"
  [ "$(field "$deb" Version)" = "$version" ] || fail "$deb: version"
  pkg=$(field "$deb" Package)
  dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$pkg/copyright" 2>/dev/null |
    grep -q '^License: GPL-2.0-or-later$' || fail "$deb: copyright file with GPL-2.0-or-later"
done

depends=$(field "$daemon_deb" Depends)
echo "tarnwatch-daemon $version depends on: $depends"
for lib in libc6 libstdc++6 libmnl0 libnftables1 libsystemd0 libcap2-bin adduser; do
  case ", $depends," in *", $lib"[\ ,]*) ;; *) fail "tarnwatch-daemon does not depend on $lib" ;; esac
done
case $depends in *[Qq]t*) fail "tarnwatch-daemon depends on Qt: $depends" ;; esac
contents "$daemon_deb" >"$work/daemon.list"
for f in /usr/bin/tarnixd /usr/bin/tarnixctl /usr/libexec/tarnwatch/tarnix-helper \
         /usr/libexec/tarnwatch/set-helper-privileges /usr/lib/systemd/system/tarnixd.service \
         /usr/share/man/man8/tarnixd.8.gz /usr/share/man/man1/tarnixctl.1.gz; do
  grep -qx "$f" "$work/daemon.list" || fail "tarnwatch-daemon has no $f"
done
grep -q '/usr/bin/tarnix$' "$work/daemon.list" && fail "tarnwatch-daemon holds tarnix"
dpkg-deb --fsys-tarfile "$daemon_deb" | tar -xO ./usr/lib/systemd/system/tarnixd.service |
  grep -qx 'ExecStart=/usr/bin/tarnixd --quiet --data-dir %S/tarnwatch' || fail "the unit does not start /usr/bin/tarnixd"
if [ -n "$desktop_deb" ]; then
  depends=$(field "$desktop_deb" Depends)
  case ", $depends," in *", tarnwatch-daemon (= $version),"*) ;; *) fail "tarnwatch does not depend on tarnwatch-daemon (= $version): $depends" ;; esac
  case $depends in *libqt6widgets6*) ;; *) fail "tarnwatch does not depend on Qt's widgets: $depends" ;; esac
  contents "$desktop_deb" >"$work/desktop.list"
  for f in /usr/bin/tarnix /usr/share/applications/tarnix.desktop /usr/share/icons/hicolor/scalable/apps/tarnix.svg \
           /usr/share/icons/hicolor/16x16/apps/tarnix.png /usr/share/icons/hicolor/256x256/apps/tarnix.png \
           /usr/share/metainfo/io.github.tarnwatch.tarnwatch.metainfo.xml /usr/share/man/man1/tarnix.1.gz; do
    grep -qx "$f" "$work/desktop.list" || fail "tarnwatch has no $f"
  done
fi

# `make install`: the same files in the same places under its PREFIX, and the
# helper made ready by the same script.
PREFIX="$work/prefix" "$here/scripts/install.sh" "$build" >"$work/install.log" 2>&1 ||
  grep -q "cannot hold file capabilities" "$work/install.log" ||
  { cat "$work/install.log" >&2; fail "scripts/install.sh"; }
(cd "$work/prefix" && find . ! -type d | sed 's|^\.|/usr|' | sort) >"$work/make-install.list"
cat "$work"/daemon.list "$work"/desktop.list 2>/dev/null | grep -v '/$' | sort >"$work/package.list"
diff -u "$work/package.list" "$work/make-install.list" >&2 || fail "make install and the packages differ in their files"
[ "$(stat -c '%U:%G %a' "$work/prefix/libexec/tarnwatch/tarnix-helper")" = "root:tarnwatch 750" ] ||
  fail "make install left the helper $(stat -c '%U:%G %a' "$work/prefix/libexec/tarnwatch/tarnix-helper")"
rm -rf "$work/prefix"

# ---------------------------------------------------------------------------
# Install.
echo "[$SECONDS s] installing"
installed=1
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
       -o DPkg::Lock::Timeout=120 "${debs[@]}" >"$work/apt.log" 2>&1; then
  cat "$work/apt.log" >&2
  fail "apt-get install"
fi
dpkg -L tarnwatch-daemon >"$work/daemon.files"
[ -z "$desktop_deb" ] || dpkg -L tarnwatch >"$work/desktop.files"

helper=/usr/libexec/tarnwatch/tarnix-helper
getent group tarnwatch >/dev/null || fail "no group tarnwatch after the install"
[ "$(stat -c '%U:%G %a' "$helper")" = "root:tarnwatch 750" ] || fail "helper is $(stat -c '%U:%G %a' "$helper")"
caps=$(getcap "$helper" | cut -d' ' -f2-)
if [ -z "$caps" ]; then
  grep -q "cannot hold file capabilities" "$work/apt.log" ||
    { cat "$work/apt.log" >&2; fail "the helper has no capabilities and nobody said why"; }
  echo "the file system under $helper holds no capabilities (said so at install)"
else
  for cap in cap_net_admin cap_net_raw cap_dac_read_search cap_sys_ptrace; do
    case $caps in *"$cap"*) ;; *) fail "helper lacks $cap: $caps" ;; esac
  done
  case $caps in *=ep) ;; *) fail "helper capabilities are not effective and permitted: $caps" ;; esac
fi
gid=$(getent group tarnwatch | cut -d: -f3)
setpriv --reuid=65534 --regid=65534 --groups="$gid" test -x "$helper" || fail "a member of tarnwatch cannot run the helper"
if setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$helper"; then fail "anyone can run the helper"; fi

# The script's message on a file system that cannot hold capabilities
# (ramfs has no extended attributes), mounted where only this test sees it.
mkdir "$work/ramfs"
# shellcheck disable=SC2016  # the inner script expands its own arguments
out=$(unshare --mount --propagation private sh -c '
  mount -t ramfs ramfs "$1" && cp "$2" "$1/tarnix-helper" &&
  /usr/libexec/tarnwatch/set-helper-privileges "$1/tarnix-helper"; echo "status $?"' sh "$work/ramfs" "$helper" 2>&1 || true)
case $out in
  *"cannot hold file capabilities"*"status 2") ;;
  *) fail "set-helper-privileges on ramfs: $out" ;;
esac

# The installed files through their checkers.
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /usr/lib/systemd/system/tarnixd.service || fail "systemd-analyze verify of the installed unit"
fi
for page in tarnixd tarnixctl; do
  man -w "$page" >/dev/null || fail "man does not find $page"
done
if [ -n "$desktop_deb" ]; then
  desktop-file-validate /usr/share/applications/tarnix.desktop || fail "desktop-file-validate"
  appstreamcli validate --no-net /usr/share/metainfo/io.github.tarnwatch.tarnwatch.metainfo.xml >/dev/null ||
    fail "appstreamcli validate"
fi

# ---------------------------------------------------------------------------
# Run.
echo "[$SECONDS s] running"
if [ -d /run/systemd/system ]; then
  [ "$(systemctl is-enabled tarnixd.service || true)" = disabled ] || fail "tarnixd.service is not disabled after the install"
  systemctl start tarnixd.service || { journalctl -u tarnixd.service --no-pager | tail -n 30 >&2; fail "systemctl start tarnixd"; }
  ok=0
  for _ in $(seq 50); do
    # The block exists (empty) a moment before its first record.
    if tarnixctl status >"$work/status" 2>/dev/null && grep -q "[0-9]," "$work/status"; then ok=1; break; fi
    sleep 0.2
  done
  [ "$ok" -eq 1 ] || { journalctl -u tarnixd.service --no-pager | tail -n 30 >&2; fail "tarnixctl status"; }
  tarnixctl --socket /run/tarnwatch/tarnwatch.sock send "tarnix.trafficmonitor /init" || fail "tarnixctl send to the service"
  systemctl stop tarnixd.service
  ls /var/lib/tarnwatch/tarnix_root@*.ini >/dev/null || fail "the service kept no settings in /var/lib/tarnwatch"
else
  echo "systemd does not run here: the installed tarnixd is started by hand instead of from its unit"
  # Its own /dev/shm and runtime folder, and a bus address with nothing
  # behind it, so nothing of the machine's is touched; its data folder is
  # the unit's.
  install -d -m 0700 /var/lib/tarnwatch "$work/run"
  # Its Report log goes to a folder of the administrator's, which a purge
  # must leave alone.
  install -d -m 0700 "$work/keep"
  printf '[Settings]\nLogRootFolder=%s/\n[Report]\nLogCheck=1\n' "$work/keep" \
    >"/var/lib/tarnwatch/tarnix_root@$(hostname).ini"
  # shellcheck disable=SC2016  # the inner script expands its own arguments
  out=$(unshare --mount --propagation private sh -c '
    mount -t tmpfs -o mode=1777 tmpfs /dev/shm || exit 1
    export XDG_RUNTIME_DIR="$1" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$1/no-bus"
    /usr/bin/tarnixd --quiet --data-dir /var/lib/tarnwatch 2>"$1/tarnixd.err" &
    pid=$!
    trap "kill -KILL $pid 2>/dev/null" EXIT
    ok=1
    for _ in $(seq 50); do
      if tarnixctl status >"$1/status" 2>/dev/null && grep -q "[0-9]," "$1/status"; then ok=0; break; fi
      sleep 0.2
    done
    [ "$ok" -eq 0 ] && tarnixctl send "tarnix.trafficmonitor /init" || ok=1
    kill -TERM "$pid" && wait "$pid" || ok=1
    cat "$1/tarnixd.err"
    exit "$ok"' sh "$work/run" 2>&1) || fail "the installed tarnixd and tarnixctl status: $out"
  ls /var/lib/tarnwatch/tarnix_root@*.ini >/dev/null || fail "tarnixd kept no settings in /var/lib/tarnwatch"
  cp "$work/run/status" "$work/status"
fi
echo "tarnixctl status: $(cat "$work/status")"
grep -Eq '^([0-9]+,){15}$' "$work/status" || fail "the status record is not fifteen numbers"

# ---------------------------------------------------------------------------
# Remove, then purge.
echo "[$SECONDS s] removing"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q -o DPkg::Lock::Timeout=120 tarnwatch tarnwatch-daemon >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get remove"; }
[ ! -e "$helper" ] || fail "the helper is still there after remove"
[ -d /var/lib/tarnwatch ] || fail "remove took the state folder; only purge may"
# apt finds no removed package that no archive has: dpkg purges it.
dpkg --purge tarnwatch tarnwatch-daemon >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "dpkg --purge"; }
installed=0
for p in tarnwatch tarnwatch-daemon; do
  state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ -z "$state" ] || [ "$state" = not-installed ] || fail "$p is still $state after the purge"
done
left=""
for list in "$work"/daemon.files "$work"/desktop.files; do
  [ -f "$list" ] || continue
  while read -r f; do
    case $f in
      /usr/libexec/tarnwatch | /usr/share/doc/tarnwatch | /usr/share/doc/tarnwatch-daemon) [ ! -e "$f" ] || left="$left $f" ;;
      *) if [ -e "$f" ] && [ ! -d "$f" ]; then left="$left $f"; fi ;;
    esac
  done <"$list"
done
[ -z "$left" ] || fail "left after the purge:$left"
[ ! -e /var/lib/tarnwatch ] || fail "/var/lib/tarnwatch is still there after the purge"
if [ -d "$work/keep" ]; then
  grep -qs "Start-Log" "$work"/keep/* || fail "the purge took the logs kept outside /var/lib/tarnwatch"
fi
ls /etc/systemd/system/*/tarnixd.service >/dev/null 2>&1 && fail "links to tarnixd.service left in /etc/systemd/system"
getent group tarnwatch >/dev/null || fail "the purge removed the group tarnwatch; it must stay"
echo "packaging install: ok"
