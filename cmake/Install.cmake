# What `cmake --install` puts in place. libzumi's part comes first and is all
# that a ZUMI_BUS_ONLY build installs: its C headers under include/libzumi/
# (the bus contract, its handle types, and the platform symbols: the log mask,
# APP_ID), libzumi.so.1 with its links, zumi.pc and the base policy of the
# system bus (share/dbus-1/system.d/com.tessal.zumi.conf). The rest: the public
# headers under include/zumi/, libbramwickzumi.so.1 with its links,
# bramwickzumi.pc, the CMake package BramwickZumi (targets
# BramwickZumi::bramwickzumi and BramwickZumi::zumi), the test kit
# libbramwickzumi-testing.so.1 (headers under include/zumi/testing/, target
# BramwickZumi::testing, bramwickzumi-testing.pc) and the zumi command
# (tools/CMakeLists.txt).

install(DIRECTORY ${PROJECT_SOURCE_DIR}/bus/include/libzumi
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
target_include_directories(zumi INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# The .pc files find the prefix from their own place (${pcfiledir}), so that
# a tree installed with `cmake --install --prefix DIR` works wherever it is.
set(ZUMI_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH ZUMI_PC_TO_PREFIX /root/${ZUMI_PKGCONFIG_DIR} /root)
string(REGEX REPLACE "/$" "" ZUMI_PC_TO_PREFIX "${ZUMI_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zumi.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zumi.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zumi.pc DESTINATION ${ZUMI_PKGCONFIG_DIR})

# The base policy of a system-type bus for libzumi's services (what `zumi
# policy --base` prints; tests/unit/tools checks that they agree), where the
# system bus reads it.
install(FILES ${PROJECT_SOURCE_DIR}/bus/policy/com.tessal.zumi.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)

if(ZUMI_BUS_ONLY)
  install(TARGETS zumi LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  return()
endif()

foreach(pc bramwickzumi bramwickzumi-testing)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${ZUMI_PKGCONFIG_DIR})
endforeach()

include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zumi
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(TARGETS bramwickzumi zumi bramwickzumi_testing
        EXPORT BramwickZumiTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZUMI_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/BramwickZumi)
install(EXPORT BramwickZumiTargets
        NAMESPACE BramwickZumi::
        DESTINATION ${ZUMI_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/BramwickZumiConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/BramwickZumiConfig.cmake
                              INSTALL_DESTINATION ${ZUMI_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/BramwickZumiConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION}
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/BramwickZumiConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/BramwickZumiConfigVersion.cmake
        DESTINATION ${ZUMI_CMAKE_PACKAGE_DIR})
