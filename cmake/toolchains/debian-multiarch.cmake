# Shared by the per-architecture toolchain files: a Debian cross compiler
# (g++-TRIPLET) over the target's -dev packages installed through multiarch
# (dpkg --add-architecture; apt-get install libfoo-dev:ARCH), so that the
# target's libraries live in /usr/lib/TRIPLET beside the build machine's own.
#
# The caller sets ZUMI_CROSS_TRIPLET, ZUMI_CROSS_PROCESSOR and
# ZUMI_CROSS_EMULATOR before including this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZUMI_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${ZUMI_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZUMI_CROSS_TRIPLET}-g++)
# Makes find_library/find_package look in /usr/lib/TRIPLET, and only there
# among the architecture directories: the build machine's own
# /usr/lib/x86_64-linux-gnu is never searched.
set(CMAKE_LIBRARY_ARCHITECTURE ${ZUMI_CROSS_TRIPLET})
# /usr/local holds whatever was built by hand for the build machine.
list(APPEND CMAKE_SYSTEM_IGNORE_PREFIX_PATH /usr/local)
# Tools (pkg-config, python3, doxygen) come from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads only the target's .pc files, whatever the caller's
# environment says. Debian's TRIPLET-pkg-config would also read /usr/local
# and /usr/lib/pkgconfig, where a package of the build machine may sit.
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "pkg-config of the build machine")
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZUMI_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# Runs target programs at build time (test discovery) and in ctest. The
# emulator finds the target's dynamic loader and libraries in the multiarch
# directories by itself: giving it -L /usr/TRIPLET (the cross compiler's own
# libc) would mix two builds of glibc and hang every program with a thread.
find_program(ZUMI_CROSS_EMULATOR_PATH ${ZUMI_CROSS_EMULATOR})
if(ZUMI_CROSS_EMULATOR_PATH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUMI_CROSS_EMULATOR_PATH})
endif()
