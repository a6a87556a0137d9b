# Shell helper for the scripts that build for the device's ARM architectures
# (cross.sh, package.sh): source it and call cross_setup ARCH, with ARCH one
# of aarch64 (or arm64) and armhf. It sets debian_arch, triplet, emulator and
# toolchain (the CMake toolchain file), and installs what is missing: the
# target architecture in dpkg, the cross compiler, the target's -dev packages
# (multiarch), the emulator and its binfmt_misc registration, mounting
# binfmt_misc first where the machine has it unmounted. Needs root or sudo.
#
# Needs: root (the source tree).

cross_setup() {
  case "$1" in
    aarch64 | arm64) debian_arch=arm64 triplet=aarch64-linux-gnu emulator=qemu-aarch64 ;;
    armhf) debian_arch=armhf triplet=arm-linux-gnueabihf emulator=qemu-arm ;;
    *)
      echo "unknown architecture '$1': aarch64 (arm64) or armhf" >&2
      return 2
      ;;
  esac
  toolchain=$root/cmake/toolchains/$triplet.cmake
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

  # A container or a freshly started machine may have binfmt_misc unmounted:
  # the registrations the emulator's package makes would then go nowhere.
  # Mounted first, so that they land when the package is installed.
  local binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/status" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  fi

  # install-deps.sh updates the package lists whenever something is missing,
  # which the target's packages are after a new architecture.
  if ! dpkg --print-foreign-architectures | grep -qx "$debian_arch"; then
    $sudo dpkg --add-architecture "$debian_arch"
  fi
  "$root/scripts/install-deps.sh" qemu-user-static binfmt-support "g++-$triplet" \
    "libglib2.0-dev:$debian_arch" "libgtk-3-dev:$debian_arch" "libsystemd-dev:$debian_arch" \
    "libgtest-dev:$debian_arch" "libgmock-dev:$debian_arch"

  # Registered by the package when it was installed; again when binfmt_misc
  # was mounted afresh since.
  if ! grep -qx enabled "$binfmt/$emulator" 2>/dev/null; then
    $sudo update-binfmts --enable "$emulator"
  fi
  grep -qx enabled "$binfmt/$emulator" 2>/dev/null || {
    echo "binfmt_misc has no $emulator: programs of $debian_arch cannot be started" >&2
    return 1
  }
}
