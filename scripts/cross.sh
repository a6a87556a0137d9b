#!/usr/bin/env bash
# Builds everything (libraries, zumi, examples, tests) for the device's ARM
# architecture with Debian's cross compiler, then runs the whole test suite
# under user-mode emulation against the build machine's own dbus-daemon. Ends
# with ctest's summary; fails when anything does.
#   scripts/cross.sh aarch64|armhf
#
# Installs what it needs when missing (scripts/lib/cross-setup.sh), among it
# the emulator's binfmt_misc registration, which lets the tests exec helper
# programs of the target directly. Needs root (or sudo) for that.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

case "${1:-}" in
  aarch64 | armhf) arch=$1 ;;
  *)
    echo "usage: scripts/cross.sh aarch64|armhf" >&2
    exit 2
    ;;
esac
build=build/$arch

echo "== cross build for $arch: what it needs"
# shellcheck source=lib/cross-setup.sh
source scripts/lib/cross-setup.sh
cross_setup "$arch"

echo "== cross build for $arch: build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)"

echo "== one bus, two architectures: $arch and $(uname -m) as service and caller, both ways"
# The build machine's side comes from the normal build folder, which
# scripts/test.sh has built already when it calls this.
[ -f build/normal/CMakeCache.txt ] ||
  cmake -S "$root" -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j"$(nproc)" --target integration_mixed_arch
mixed=0
ZUMI_OTHER_BUILD="$root/$build" build/normal/tests/integration/integration_mixed_arch || mixed=$?

echo "== cross build for $arch: every test under emulation (dbus-daemon of the build machine)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ "$mixed" -ne 0 ]; then
  echo "the two architectures on one bus failed (above)" >&2
  exit 1
fi
