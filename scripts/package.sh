#!/usr/bin/env bash
# Builds the Debian packages into build/packages/, for the build machine's
# architecture or, cross-built, for arm64 or armhf:
#   scripts/package.sh [amd64|arm64|armhf]
#
# One runtime package per shared library, named after its SONAME and
# installable beside the same package of another architecture (Multi-Arch:
# same): libzumi1, libbramwickzumi1, and the test kit libbramwickzumi-testing1.
# libbramwickzumi-dev: the headers, the .so links, the pkg-config files and the
# CMake package of all three. zumi: the command with its manual page and bash
# completion, the base D-Bus policy of a system-type bus, and the example
# system service with its policy, D-Bus service file and systemd unit.
# Dependencies on other packages come from dpkg-shlibdeps; lintian must find
# no error.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

native=$(dpkg --print-architecture)
arch=${1:-$native}
[ "$arch" = aarch64 ] && arch=arm64
cmake_args=()
strip=strip
objcopy=objcopy
if [ "$arch" = "$native" ]; then
  scripts/install-deps.sh dpkg-dev lintian
else
  # shellcheck source=lib/cross-setup.sh
  source scripts/lib/cross-setup.sh
  cross_setup "$arch"
  scripts/install-deps.sh dpkg-dev lintian
  cmake_args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  strip=$triplet-strip
  objcopy=$triplet-objcopy
fi
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
version=$(sed -nE 's/^project\(bramwickzumi VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
debian_version=$version-1
build=build/package-$arch
out=build/packages
work=$build/debian
stage=$work/stage
rm -rf "$work"
mkdir -p "$stage" "$out"

echo "== packages for $arch: build and install into a staging tree"
# No RUNPATH: the libraries are in the system's own directory, the multiarch
# one (which GNUInstallDirs does not choose when cross-compiling).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_INSTALL_LIBDIR="lib/$multiarch" -DZUMI_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_RPATH=ON "${cmake_args[@]}" \
  >/dev/null
cmake --build "$build" -j"$(nproc)"
DESTDIR=$root/$stage cmake --install "$build" >/dev/null
libdir=usr/lib/$multiarch
[ -e "$stage/$libdir/libzumi.so.1" ] || {
  echo "libzumi.so.1 is not in /$libdir of the staging tree" >&2
  exit 1
}

# package NAME PATH...: moves the staged paths (globs, relative to /) into
# NAME's tree.
package() {
  local name=$1
  shift
  local path
  for path in "$@"; do
    # shellcheck disable=SC2086  # the paths are globs
    for found in $stage/$path; do
      [ -e "$found" ] || [ -L "$found" ] || continue
      local target=$work/$name/${found#"$stage"/}
      mkdir -p "$(dirname "$target")"
      mv "$found" "$target"
    done
  done
}
package libzumi1 "$libdir/libzumi.so.1*"
package libbramwickzumi1 "$libdir/libbramwickzumi.so.1*"
package libbramwickzumi-testing1 "$libdir/libbramwickzumi-testing.so.1*"
package libbramwickzumi-dev usr/include "$libdir/*.so" "$libdir/pkgconfig" "$libdir/cmake"
# The example system service comes with the command: its policy, D-Bus
# service file, systemd unit and users are what a device's own service ships.
package zumi usr/bin usr/share/man usr/share/bash-completion usr/share/dbus-1 etc/dbus-1 \
  usr/lib/systemd usr/lib/sysusers.d
leftover=$(cd "$stage" && find . ! -type d)
if [ -n "$leftover" ]; then
  echo "installed files that no package takes:" >&2
  echo "$leftover" >&2
  exit 1
fi

echo "== packages for $arch: control files"
# What Debian's helpers would do: stripped objects (the debugging data stays
# in the build), compressed manual pages, the permissions of the policy, a
# copyright file and a changelog per package.
find "$work" -path "$stage" -prune -o -type f -name '*.so.*' -print | while read -r lib; do
  "$strip" --remove-section=.comment --remove-section=.note --strip-unneeded "$lib"
  chmod 0644 "$lib"
done
[ -d "$work/zumi/usr/bin" ] && "$strip" --remove-section=.comment --remove-section=.note "$work"/zumi/usr/bin/*
find "$work" -path "$stage" -prune -o -path '*/usr/share/man/*' -type f ! -name '*.gz' -print |
  while read -r page; do gzip -9n "$page"; done

date_rfc=$(date -R -u -d "@$(git log -1 --format=%ct 2>/dev/null || date +%s)")
write_docs() {
  local name=$1 doc=$work/$1/usr/share/doc/$1
  mkdir -p "$doc"
  cat >"$doc/copyright" <<EOF
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: libbramwickzumi
Source: the libbramwickzumi source tree

Files: *
Copyright: 2026 the libbramwickzumi developers
License: proprietary
 All rights reserved. Distributed with the device's software only.
EOF
  printf '%s\n' "libbramwickzumi ($debian_version) unstable; urgency=medium" "" \
    "  * Built from the libbramwickzumi source tree by scripts/package.sh." "" \
    " -- libbramwickzumi developers <zumi-dev@bramwick.example>  $date_rfc" |
    gzip -9n >"$doc/changelog.Debian.gz"
  chmod 0644 "$doc/copyright" "$doc/changelog.Debian.gz"
}

# dpkg-shlibdeps reads debian/control and finds our own libraries through
# debian/shlibs.local, as in a source package.
mkdir -p "$work/debian"
printf 'Source: libbramwickzumi\n\nPackage: zumi\nArchitecture: any\n' >"$work/debian/control"
shlibs="libzumi 1 libzumi1 (>= $version)
libbramwickzumi 1 libbramwickzumi1 (>= $version)
libbramwickzumi-testing 1 libbramwickzumi-testing1 (>= $version)"
echo "$shlibs" >"$work/debian/shlibs.local"
shlib_depends() {
  local objects=()
  mapfile -t objects < <(find "$work/$1" -type f \( -name '*.so.*' -o -path '*/usr/bin/*' \))
  local found
  found=$(cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O -l"$root/$work/libzumi1/$libdir" \
    -l"$root/$work/libbramwickzumi1/$libdir" -l"$root/$work/libbramwickzumi-testing1/$libdir" \
    "${objects[@]/#"$work/"/}" 2>"$root/$work/$1.shlibdeps.log") ||
    { cat "$work/$1.shlibdeps.log" >&2; return 1; }
  sed -n 's/^shlibs:Depends=//p' <<<"$found"
}

# control NAME SECTION MULTI-ARCH DEPENDS DESCRIPTION...
control() {
  local name=$1 section=$2 multi=$3 depends=$4
  shift 4
  write_docs "$name"
  mkdir -p "$work/$name/DEBIAN"
  {
    echo "Package: $name"
    echo "Source: libbramwickzumi"
    echo "Version: $debian_version"
    echo "Architecture: $arch"
    echo "Multi-Arch: $multi"
    echo "Maintainer: libbramwickzumi developers <zumi-dev@bramwick.example>"
    echo "Installed-Size: $(du -sk --exclude=DEBIAN "$work/$name" | cut -f1)"
    [ -z "$depends" ] || echo "Depends: $depends"
    echo "Section: $section"
    echo "Priority: optional"
    echo "Description: $1"
    shift
    local line
    for line in "$@"; do echo " $line"; done
  } >"$work/$name/DEBIAN/control"
  (cd "$work/$name" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0r md5sum) \
    >"$work/$name/DEBIAN/md5sums"
  # Files in /etc (a D-Bus policy there) are the administrator's to change:
  # an upgrade keeps their changes, a purge removes them.
  if [ -d "$work/$name/etc" ]; then
    (cd "$work/$name" && find etc -type f -printf '/%p\n' | sort) >"$work/$name/DEBIAN/conffiles"
  fi
}
runtime() {
  local name=$1 lib=$2 depends
  shift 2
  depends=$(shlib_depends "$name")
  control "$name" libs same "$depends" "$@"
  grep "^$lib " <<<"$shlibs" >"$work/$name/DEBIAN/shlibs"
  echo "activate-noawait ldconfig" >"$work/$name/DEBIAN/triggers"
}

runtime libzumi1 libzumi "message bus library of the device (connections, properties, events)" \
  "libzumi gives a process of the device a connection to its message bus:" \
  "properties published and read between processes, and events."
runtime libbramwickzumi1 libbramwickzumi "object-oriented C++ access to the device's message bus" \
  "Shared, reference-counted handlers over libzumi: remote property access" \
  "with exceptions, property publishing, event subscription delivered on the" \
  "GLib main loop, hash-array values, and a bridge to GTK objects."
runtime libbramwickzumi-testing1 libbramwickzumi-testing "test kit of libbramwickzumi: an in-process fake bus" \
  "An application's tests link this library in place of libbramwickzumi and" \
  "libzumi: its code runs unchanged over a bus inside the test process."
control libbramwickzumi-dev libdevel same \
  "libzumi1 (= $debian_version), libbramwickzumi1 (= $debian_version), libbramwickzumi-testing1 (= $debian_version)" \
  "development files of libbramwickzumi, libzumi and the test kit" \
  "Headers, the .so links, the pkg-config files (bramwickzumi, zumi," \
  "bramwickzumi-testing) and the CMake package BramwickZumi."
depends=$(shlib_depends zumi)
control zumi utils foreign "$depends" \
  "command-line tool of the device's message bus" \
  "zumi lists services and their properties, reads and writes them, sends" \
  "and waits for events, and watches, records and replays the bus's traffic."

echo "== packages for $arch: .deb files"
rm -f "$out"/*_"$arch".deb
for name in libzumi1 libbramwickzumi1 libbramwickzumi-testing1 libbramwickzumi-dev zumi; do
  find "$work/$name" -type d -exec chmod 0755 {} +
  chmod 0644 "$work/$name"/DEBIAN/*
  dpkg-deb --root-owner-group -Zxz --build "$work/$name" "$out/${name}_${debian_version}_$arch.deb" >/dev/null
  echo "$out/${name}_${debian_version}_$arch.deb: Depends: $(dpkg-deb -f "$out/${name}_${debian_version}_$arch.deb" Depends)"
done

echo "== lintian"
# Errors fail the build; warnings are shown.
lintian --tag-display-limit 0 "$out"/*_"${debian_version}"_"$arch".deb | tee "$work/lintian.log" || true
if grep -q '^E:' "$work/lintian.log"; then
  echo "lintian found errors (above)" >&2
  exit 1
fi
echo "packages for $arch: $(ls "$out"/*_"${debian_version}"_"$arch".deb | wc -l) in $out"
