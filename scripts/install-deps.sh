#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when
# they are missing, and any further packages named on the command line (the
# cross build's, with their :ARCH). Safe to run again; does nothing when all
# are present.
#   scripts/install-deps.sh [PACKAGE...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libglib2.0-dev libgtk-3-dev libsystemd-dev dbus-daemon
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev doxygen groff-base
  clang libclang-rt-14-dev
  xvfb xauth
  python3
  chromium
  # The generic clients of the integration tests: busctl, gdbus, GLib's Python bindings.
  systemd libglib2.0-bin python3-gi
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# Waits for another apt-get rather than failing on its lock.
$sudo apt-get install -o DPkg::Lock::Timeout=1800 -y -qq --no-install-recommends "${missing[@]}"
