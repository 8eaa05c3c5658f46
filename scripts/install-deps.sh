#!/usr/bin/env bash
# Installs the Debian 12 packages Tarnwatch needs to build, test and run.
# Only missing packages are installed; run as root (or with sudo available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-translations-l10n libgl-dev
  libmnl-dev libsystemd-dev
  libnftables-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libldns-dev traceroute ldnsutils bind9-dnsutils
  libcap2-bin dbus-daemon iproute2 iputils-ping xvfb xauth x11-apps imagemagick fonts-dejavu-core fonts-ipafont-gothic
  prometheus prometheus-node-exporter
  # make package and its tests: dpkg-shlibdeps, addgroup (maintainer scripts),
  # systemd-analyze, man --warnings, the desktop-entry and AppStream validators
  dpkg-dev adduser systemd man-db desktop-file-utils appstream
  locales
)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# The session list's sort is tested under glibc's en_US.UTF-8 collation (it
# ignores blanks and dots at its first level); Debian generates no locale
# unless asked to.
ensure_test_locale() {
  locale -a 2>/dev/null | grep -qix 'en_US.utf8' && return 0
  command -v localedef >/dev/null || return 0
  echo "Generating the locale en_US.UTF-8"
  $sudo localedef -i en_US -f UTF-8 en_US.UTF-8
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_test_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The metrics test starts its own prometheus and node exporter on loopback
# ports; the services the packages enable would listen on every address, so
# the ones installed here are switched off again where systemd runs them.
if [ -d /run/systemd/system ]; then
  for p in "${missing[@]}"; do
    case $p in
      prometheus|prometheus-node-exporter) $sudo systemctl disable --now "$p" >/dev/null 2>&1 || true ;;
    esac
  done
fi
ensure_test_locale
