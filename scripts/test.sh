#!/usr/bin/env bash
# The test command: installs what is missing, builds the API reference (which
# fails on an undocumented public symbol), builds libzumi alone and runs a C
# program against its installed tree, then builds and runs every test in
# a normal build, under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# concurrency tests under ThreadSanitizer, then cross-builds for aarch64 and
# runs every test under emulation, and builds the Debian packages, installs
# them, builds against them and purges them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

jobs=$(nproc)
build() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

echo "== API reference"
scripts/docs.sh build/docs

echo "== libzumi alone"
# libzumi builds, installs and serves a C program with nothing of
# libbramwickzumi: a ZUMI_BUS_ONLY build into a temporary prefix, which must
# hold libzumi's files only, and the C program over its installed headers.
build build/bus-only -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUMI_BUS_ONLY=ON
bus_prefix=$(mktemp -d)
trap 'rm -rf "$bus_prefix"' EXIT
cmake --install build/bus-only --prefix "$bus_prefix" >/dev/null
if find "$bus_prefix" | grep -E 'bramwick|/include/zumi|/bin/'; then
  echo "the ZUMI_BUS_ONLY install holds more than libzumi (above)" >&2
  exit 1
fi
bus_pc=$(find "$bus_prefix" -name zumi.pc)
bus_libdir=$(PKG_CONFIG_PATH=$(dirname "$bus_pc") pkg-config --variable=libdir zumi)
# shellcheck disable=SC2046  # the flags are separate words
"${CC:-cc}" -std=c99 -Wall -Wextra -Wpedantic -Werror tests/headers/libzumi_c_program.c \
  $(PKG_CONFIG_PATH=$(dirname "$bus_pc") pkg-config --cflags --libs zumi) -Wl,-rpath,"$bus_libdir" \
  -o "$bus_prefix/libzumi_c_program"
"$bus_prefix/libzumi_c_program"

echo "== normal build"
# The benchmarks are compiled here too (not run: their figures need an idle
# machine), so that a change of the library's internals cannot leave them
# broken until the next benchmark run.
build build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUMI_BUILD_BENCHMARKS=ON
ctest --test-dir build/normal --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DZUMI_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer (concurrency tests)"
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DZUMI_SANITIZE=thread
TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build/tsan --output-on-failure -j"$jobs" -L concurrency

echo "== cross build for aarch64: every test under emulation, and aarch64 beside x86-64 on one bus (scripts/cross.sh aarch64)"
# armhf (scripts/cross.sh armhf) is left out here: with it the whole run
# would take more than the half hour it is given.
scripts/cross.sh aarch64

echo "== Debian packages (scripts/package.sh), installed, built against, used and purged (tests/packages)"
scripts/package.sh
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo tests/packages/package_test.sh

if command -v clang++ >/dev/null 2>&1; then
  echo "== fuzzing the wire format (30 s)"
  CC=clang CXX=clang++ cmake -S "$root" -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZUMI_BUILD_FUZZERS=ON >/dev/null
  cmake --build build/fuzz -j"$jobs" --target wire_format_fuzzer
  mkdir -p build/fuzz/corpus
  build/fuzz/tests/fuzz/wire_format_fuzzer -max_total_time=30 -rss_limit_mb=2048 build/fuzz/corpus
fi
