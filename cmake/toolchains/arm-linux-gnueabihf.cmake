# 32-bit ARM, hard float (Debian's armhf) with Debian's cross compiler and
# multiarch (see debian-multiarch.cmake):
#   cmake -S . -B build/armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(ZUMI_CROSS_TRIPLET arm-linux-gnueabihf)
set(ZUMI_CROSS_PROCESSOR armv7l)
set(ZUMI_CROSS_EMULATOR qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
# GCC notes at every std::vector of a struct that its parameter passing
# changed in GCC 7.1: nothing built here links code from before that.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
