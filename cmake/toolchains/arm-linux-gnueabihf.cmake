# 32-bit ARM, hard float (Debian's armhf) with Debian's cross compiler and
# multiarch (see debian-multiarch.cmake):
#   cmake -S . -B build/armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(ZUMI_CROSS_TRIPLET arm-linux-gnueabihf)
set(ZUMI_CROSS_PROCESSOR armv7l)
set(ZUMI_CROSS_EMULATOR qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
