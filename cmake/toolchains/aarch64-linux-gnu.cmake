# 64-bit ARM with Debian's cross compiler and multiarch (see debian-multiarch.cmake):
#   cmake -S . -B build/aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(ZUMI_CROSS_TRIPLET aarch64-linux-gnu)
set(ZUMI_CROSS_PROCESSOR aarch64)
set(ZUMI_CROSS_EMULATOR qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
