#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, checks what landed there
# and what the shared libraries export, then builds a small consumer against
# the installed tree twice: with pkg-config and with find_package.
#
#   install_test.sh BUILD_DIR
#
# A cross build gives its compiler, binutils and toolchain file in CXX, NM,
# OBJDUMP and TOOLCHAIN_FILE (and the target's pkg-config directories in
# PKG_CONFIG_LIBDIR); the programs built here then run under the emulator
# that binfmt_misc starts.
set -euo pipefail
cxx=${CXX:-c++}
nm=${NM:-nm}
objdump=${OBJDUMP:-objdump}
toolchain=()
[ -z "${TOOLCHAIN_FILE:-}" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE")
# What the dynamic loader maps for a program (ldd's own way, which also works
# for a program of another architecture).
loaded() { LD_TRACE_LOADED_OBJECTS=1 "$1"; }
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "== cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name libbramwickzumi.so.1 | head -1)")
[ -d "$libdir" ] || { echo "FAIL: libbramwickzumi.so.1 not installed"; exit 1; }
for lib in bramwickzumi zumi bramwickzumi-testing; do
  [ -L "$libdir/lib$lib.so" ] || fail "lib$lib.so is not a link"
  [ -L "$libdir/lib$lib.so.1" ] || fail "lib$lib.so.1 is not a link"
  [ "$(readlink -f "$libdir/lib$lib.so")" = "$(readlink -f "$libdir/lib$lib.so.1")" ] ||
    fail "lib$lib.so and lib$lib.so.1 lead to different files"
  soname=$("$objdump" -p "$libdir/lib$lib.so.1" | awk '/SONAME/ {print $2}')
  [ "$soname" = "lib$lib.so.1" ] || fail "lib$lib SONAME is '$soname'"
done
for f in include/zumi/zumi.h include/zumi/ZumiHandler.h include/libzumi/ZumiBus.h bin/zumi \
         include/zumi/testing/FakeBus.h include/zumi/testing/FakeBusTest.h \
         share/bash-completion/completions/zumi share/man/man1/zumi.1 \
         share/dbus-1/system.d/com.tessal.zumi.conf bin/zumi-example-settings \
         share/dbus-1/system.d/com.tessal.example.settings.conf \
         share/dbus-1/system-services/com.tessal.example.settings.service \
         lib/systemd/system/zumi-example-settings.service lib/sysusers.d/zumi-example-settings.conf; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
for f in pkgconfig/bramwickzumi.pc pkgconfig/zumi.pc pkgconfig/bramwickzumi-testing.pc cmake/BramwickZumi/BramwickZumiConfig.cmake; do
  [ -e "$libdir/$f" ] || fail "$f not installed"
done
# Nothing from the source tree's private directories may leak into the headers.
if grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*("|<(platform|util|core|handler|factory|events|hasharray|bridge)/)' "$prefix/include/zumi" "$prefix/include/libzumi" >"$work/leaks"; then
  fail "installed headers include private headers: $(tr '\n' ' ' <"$work/leaks")"
fi

echo "== exported symbols"
# libbramwickzumi and the test kit: only names declared in the installed
# headers (plus the weak std:: instances every C++ library carries, and the
# linker's own); the kit, which stands in for libzumi too, also the bus's C
# contract and the platform symbols.
names=$(grep -ohE '\b[A-Za-z_][A-Za-z0-9_]*\b' "$prefix"/include/zumi/*.h "$prefix"/include/zumi/testing/*.h "$prefix"/include/libzumi/*.h | sort -u)
# The symbols the linker adds to every library (ARM's linker a few more).
linkers_own() {
  case "$1" in __bss_start | __bss_start__ | __bss_end__ | _bss_end__ | __end__ | _edata | _end | _init | _fini) return 0 ;; esac
  return 1
}
check_cxx_exports() {
  local lib=$1 c_allowed=$2
  "$nm" -D --defined-only "$libdir/$lib" | awk '{print $2, $3}' >"$work/$lib.syms"
  while read -r kind sym; do
    linkers_own "$sym" && continue
    if [ "$c_allowed" = yes ]; then
      case "$sym" in g_tessal_log_mask | APP_ID | Zumi*) continue ;; esac
    fi
    plain=$(echo "$sym" | c++filt)
    case "$plain" in
      std::* | "typeinfo for std::"* | "typeinfo name for std::"* | "vtable for std::"* | "void std::"*)
        [[ "$kind" =~ ^[WVu]$ ]] || fail "$lib: strong std symbol exported: $plain"
        continue ;;
    esac
    entity=$(echo "$plain" | sed -E 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|non-virtual thunk to|virtual thunk to|guard variable for) //; s/^[^(]* (veltra::)/\1/' |
      sed -E 's/veltra::kesh::zumi::testing::/veltra::kesh::zumi::/' |
      grep -oE 'veltra::kesh::zumi::[A-Za-z_][A-Za-z0-9_]*' | head -1 | sed 's/.*:://')
    if [ -z "$entity" ] || ! grep -qx "$entity" <<<"$names"; then
      fail "$lib exports a name outside the public headers: $plain"
    fi
  done <"$work/$lib.syms"
}
check_cxx_exports libbramwickzumi.so.1 no
check_cxx_exports libbramwickzumi-testing.so.1 yes
# libzumi: its C contract and the platform symbols, nothing else.
"$nm" -D --defined-only "$libdir/libzumi.so.1" | awk '{print $2, $3}' >"$work/z.syms"
while read -r kind sym; do
  linkers_own "$sym" && continue
  case "$sym" in
    g_tessal_log_mask | APP_ID | Zumi*) ;;
    _ZNSt* | _ZNKSt* | _ZZNSt* | _ZZNKSt* | _ZSt* | _ZTISt* | _ZTSSt* | _ZTVSt* | _ZN9__gnu_cxx*)
      [[ "$kind" =~ ^[WVu]$ ]] || fail "strong std symbol exported from libzumi: $sym" ;;
    *) fail "libzumi exports $(echo "$sym" | c++filt)" ;;
  esac
done <"$work/z.syms"
echo "libbramwickzumi: $(wc -l <"$work/libbramwickzumi.so.1.syms") symbols, libzumi: $(wc -l <"$work/z.syms") symbols," \
  "test kit: $(wc -l <"$work/libbramwickzumi-testing.so.1.syms") symbols"

expected="factory: refuses a null identifier
exception: thrown across the library boundary
status 5: No service owns that identifier"

echo "== consumer built with pkg-config"
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs bramwickzumi)
echo "flags: $flags"
"$cxx" -std=c++17 -Wall -Werror "$here/consumer/main.cpp" $flags -Wl,-rpath,"$libdir" -o "$work/consumer-pc"
out=$("$work/consumer-pc")
[ "$out" = "$expected" ] || fail "pkg-config consumer printed: $out"

echo "== consumer built with find_package"
cmake -S "$here/consumer" -B "$work/consumer-build" -G Ninja "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$prefix" >"$work/consumer.log"
cmake --build "$work/consumer-build" >>"$work/consumer.log" || { cat "$work/consumer.log"; fail "find_package build"; }
out=$("$work/consumer-build/consumer")
[ "$out" = "$expected" ] || fail "find_package consumer printed: $out"

# Builds an application's tests against the installed tree with
# find_package(... COMPONENTS testing) and runs them with no bus: they must
# link the kit, not the real libraries, pass, and skip nothing.
#   run_kit_tests NAME SOURCE_DIR EXECUTABLE [RUNNER...]
run_kit_tests() {
  local name=$1 source=$2 exe=$3
  shift 3
  cmake -S "$source" -B "$work/$name-build" -G Ninja "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$prefix" >"$work/$name.log"
  cmake --build "$work/$name-build" >>"$work/$name.log" 2>&1 || { cat "$work/$name.log"; fail "$name tests build"; return; }
  loaded "$work/$name-build/$exe" | grep -qE 'lib(bramwickzumi|zumi)\.so' &&
    fail "the $name tests load the real libraries: $(loaded "$work/$name-build/$exe" | grep -E 'lib(bramwickzumi|zumi)\.so')"
  env -u DBUS_SESSION_BUS_ADDRESS -u DBUS_SYSTEM_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
    "$@" "$work/$name-build/$exe" >"$work/$name-test.log" 2>&1 || { cat "$work/$name-test.log"; fail "$name tests"; }
  grep -E '^\[  PASSED  \] [0-9]+ tests' "$work/$name-test.log" || fail "$name tests did not pass"
  if grep -q '^\[  SKIPPED \]' "$work/$name-test.log"; then fail "$name tests were skipped"; fi
}

echo "== an application's tests built with find_package(... COMPONENTS testing), run without a bus"
run_kit_tests app "$here/app" dimmer_test

echo "== the panel example's tests, built the same way, run without a bus on a virtual display"
# Without a display GTK cannot start and the tests would only skip.
display=()
[ -n "${DISPLAY:-}" ] || display=(xvfb-run -a)
run_kit_tests panel "$(cd "$here/../../examples/panel/tests" && pwd)" panel_test "${display[@]}"

echo "== the test kit refuses to run beside the real libraries"
cat >"$work/both.cpp" <<'CPP'
#include <zumi/zumi.h>
#include <zumi/testing/FakeBus.h>
int main() { veltra::kesh::zumi::testing::FakeBus bus; return bus.leaks().none() ? 0 : 1; }
CPP
"$cxx" -std=c++17 "$work/both.cpp" -I"$prefix/include" -L"$libdir" -Wl,--no-as-needed -lbramwickzumi-testing -lbramwickzumi \
  -Wl,-rpath,"$libdir" -o "$work/both"
if LD_LIBRARY_PATH="$libdir" "$work/both" >"$work/both.out" 2>&1; then
  fail "a program linking the kit and libbramwickzumi ran"
fi
grep -q 'libbramwickzumi-testing: libbramwickzumi.so.1 is loaded too' "$work/both.out" ||
  fail "the kit's refusal said: $(cat "$work/both.out")"

echo "== the installed zumi command finds its libraries"
env -u LD_LIBRARY_PATH "$prefix/bin/zumi" --help >"$work/help" || fail "installed zumi --help failed"
grep -q '^Usage: zumi .*COMMAND' "$work/help" || fail "installed zumi --help printed: $(head -1 "$work/help")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed tree: all checks passed"
