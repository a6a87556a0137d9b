#!/usr/bin/env bash
# The build machine's packages as a user meets them: installs them with
# apt-get from build/packages/, builds the minimal application against the
# system's copy with pkg-config and with find_package, drives both builds
# with the installed zumi command on a private bus, then purges the packages
# and checks that none of their files is left. Needs root: it changes the
# machine's installed packages (and fails rather than touch a copy that was
# installed before it).
#   tests/packages/package_test.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
ZUMI_ROOT=$(cd "$here/../.." && pwd)
export ZUMI_ROOT
arch=$(dpkg --print-architecture)
packages=(libzumi1 libbramwickzumi1 libbramwickzumi-testing1 libbramwickzumi-dev zumi)
debs=()
for p in "${packages[@]}"; do
  deb=$(ls "$ZUMI_ROOT"/build/packages/"${p}"_*_"$arch".deb 2>/dev/null | tail -1)
  [ -n "$deb" ] || { echo "no $p package for $arch in build/packages (scripts/package.sh)" >&2; exit 1; }
  debs+=("$deb")
done
installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in "${packages[@]}"; do
  if installed "$p"; then
    echo "$p is installed already: this test would remove it" >&2
    exit 1
  fi
done

# shellcheck source=../../scripts/lib/session.sh
source "$ZUMI_ROOT/scripts/lib/session.sh"
session_start
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
purge() { apt-get purge -o DPkg::Lock::Timeout=1800 -y -qq "${packages[@]}" >/dev/null 2>&1 || true; }
# The packages go again whatever happens below.
trap 'purge; session_stop' EXIT
export DEBIAN_FRONTEND=noninteractive

echo "== apt-get install ./*.deb"
apt-get install -o DPkg::Lock::Timeout=1800 -y -qq --no-install-recommends "${debs[@]}" >"$session_dir/apt.log" 2>&1 ||
  { cat "$session_dir/apt.log"; exit 1; }
for p in "${packages[@]}"; do installed "$p" || fail "$p is not installed"; done
dpkg -L "${packages[@]}" | sort -u >"$session_dir/files"
[ "$(command -v zumi)" = /usr/bin/zumi ] || fail "zumi is not /usr/bin/zumi: $(command -v zumi)"
man -w zumi >/dev/null 2>&1 || [ -e /usr/share/man/man1/zumi.1.gz ] || fail "no manual page of zumi"

echo "== the minimal application built with pkg-config and with find_package"
# Only the system's own directories: nothing of the source tree or a build.
unset PKG_CONFIG_PATH CMAKE_PREFIX_PATH LD_LIBRARY_PATH
# shellcheck disable=SC2046  # the flags are separate words
c++ -std=c++17 -Wall -Werror "$ZUMI_ROOT/examples/minimal/main.cpp" $(pkg-config --cflags --libs bramwickzumi glib-2.0) \
  -o "$session_dir/app-pc" || fail "pkg-config build"
cmake -S "$ZUMI_ROOT/examples/minimal" -B "$session_dir/app-build" -G Ninja >"$session_dir/cmake.log" 2>&1 &&
  cmake --build "$session_dir/app-build" >>"$session_dir/cmake.log" 2>&1 ||
  { cat "$session_dir/cmake.log"; fail "find_package build"; }
for app in "$session_dir/app-pc" "$session_dir/app-build/minimal_app"; do
  [ -x "$app" ] || continue
  ldd "$app" | grep -qE "libbramwickzumi.so.1 => (/usr)?/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/" ||
    fail "$app does not use the installed library: $(ldd "$app" | grep zumi)"
done

echo "== both, driven by the installed zumi on a private bus"
start_private_bus
run_app() {
  local app=$1 service=com.example.packaged.$2 out=$session_dir/$2.out
  "$app" "$service" >"$out" 2>"$session_dir/$2.err" &
  local pid=$!
  wait_for 20 grep -qx ready "$out" || { fail "$2: never ready: $(cat "$session_dir/$2.err")"; kill "$pid"; return; }
  [ "$(zumi get "$service" level)" = 3 ] || fail "$2: zumi get printed $(zumi get "$service" level 2>&1)"
  zumi set "$service" level -- -7 || fail "$2: zumi set failed"
  [ "$(zumi get "$service" level)" = -7 ] || fail "$2: the value set reads $(zumi get "$service" level 2>&1)"
  zumi list | grep -qx "$service" || fail "$2: zumi list does not show $service"
  # The subscription may still be on its way: send until the app has it.
  wait_for 20 sh -c "zumi send --as com.example.control stop --int 5 --string bye && grep -q stop '$out'" ||
    fail "$2: the event never arrived"
  wait_for 20 sh -c "! kill -0 $pid" || { fail "$2: did not end after the event"; kill "$pid"; }
  wait "$pid" || fail "$2: exited with $?"
  grep -qx "stop 5 bye" "$out" || fail "$2: printed $(tail -1 "$out")"
}
[ -x "$session_dir/app-pc" ] && run_app "$session_dir/app-pc" pc
[ -x "$session_dir/app-build/minimal_app" ] && run_app "$session_dir/app-build/minimal_app" cmake

echo "== apt-get purge"
apt-get purge -o DPkg::Lock::Timeout=1800 -y -qq "${packages[@]}" >"$session_dir/purge.log" 2>&1 ||
  { cat "$session_dir/purge.log"; fail "purge"; }
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qv "not-installed"; then
    fail "$p is still known to dpkg: $(dpkg-query -W -f='${Status}' "$p")"
  fi
done
while read -r path; do
  [ -d "$path" ] && [ ! -L "$path" ] && continue  # directories shared with other packages
  if [ -e "$path" ] || [ -L "$path" ]; then fail "left after the purge: $path"; fi
done <"$session_dir/files"
for dir in /usr/include/zumi /usr/include/libzumi /usr/lib/*/cmake/BramwickZumi /usr/share/doc/zumi; do
  [ ! -e "$dir" ] || fail "left after the purge: $dir"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "packages: installed, built against, used and purged without a trace"
