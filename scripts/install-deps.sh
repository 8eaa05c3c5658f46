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
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
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
