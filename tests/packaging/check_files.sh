#!/usr/bin/env bash
# The installed files as they are in the tree, through the checkers their
# consumers use: desktop-file-validate for the desktop entry, appstreamcli
# (without the network) for the AppStream data, man --warnings for the
# manual pages, systemd-analyze verify and security for the unit; and the
# versions they name against the project's.
#
# Usage: check_files.sh BUILD-DIR PROJECT-VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
version=$2
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
need() { command -v "$1" >/dev/null || { echo "FAIL: $1 is missing (make deps installs it)" >&2; exit 1; }; }
need desktop-file-validate
need appstreamcli
need man

# Desktop entry: the validator prints its complaints (hints included).
out=$(desktop-file-validate "$here/data/tarnix.desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -q '^Categories=.*Network;.*Monitor;' "$here/data/tarnix.desktop" || fail "desktop entry: Network and Monitor categories"
for key in 'Name\[ja\]' 'Comment\[ja\]' 'Keywords' 'Keywords\[ja\]'; do
  grep -q "^$key=" "$here/data/tarnix.desktop" || fail "desktop entry: no $key"
done

# AppStream: clean even for the pedantic checks, and its newest release is
# this version.
metainfo=$(ls "$here"/data/*.metainfo.xml)
out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "metainfo: newest release is $newest, the project is $version"
while read -r shot; do
  [ -f "$here/$shot" ] || fail "metainfo names $shot, which is not in the tree"
done < <(grep -o 'data/screenshots/[^<]*\.png' "$metainfo")

# Icons: the SVG and each PNG of the size its name says.
[ -f "$here/data/icons/tarnix.svg" ] || fail "no data/icons/tarnix.svg"
for size in 16 22 24 32 48 64 128 256; do
  png="$here/data/icons/tarnix-$size.png"
  # IHDR width and height, big-endian, at bytes 16..23 of a PNG.
  dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }')
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims, not ${size}x${size}"
done

# Manual pages at the width lintian checks them with: no troff warning.
for page in "$here"/man/*.[18]; do
  out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || fail "man $page failed"
  [ -z "$out" ] || fail "man --warnings $page: $out"
  grep -q "^\.TH .*\"Tarnwatch $version\"" "$page" || fail "$page does not name Tarnwatch $version"
done

# The unit, pointed at this build's tarnixd, with the manual pages it names.
if command -v systemd-analyze >/dev/null; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  sed "s|@TW_UNIT_BINDIR@|$build|g" "$here/packaging/tarnixd.service.in" > "$work/tarnixd.service"
  mkdir -p "$work/man/man1" "$work/man/man8"
  cp "$here/man/tarnixctl.1" "$work/man/man1/"
  cp "$here/man/tarnixd.8" "$work/man/man8/"
  if [ ! -x "$build/tarnixd" ]; then
    fail "$build/tarnixd is not built"
  else
    out=$(cd "$work" && MANPATH="$work/man" systemd-analyze verify ./tarnixd.service 2>&1) ||
      fail "systemd-analyze verify: $out"
    [ -z "$out" ] || fail "systemd-analyze verify: $out"
    # The exposure it reaches today (2.8); a change that weakens it fails here.
    out=$(cd "$work" && systemd-analyze security --offline=yes --threshold=28 ./tarnixd.service 2>&1) ||
      fail "systemd-analyze security: exposure above 2.8: $(echo "$out" | tail -n1)"
    echo "$out" | tail -n1
  fi
else
  echo "systemd-analyze is missing: the unit was not checked"
fi

[ "$failed" -eq 0 ] && echo "packaging files: ok"
exit "$failed"
