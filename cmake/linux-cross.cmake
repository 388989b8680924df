# Cross-building for another Linux with Debian's cross compiler, included by
# a toolchain file per target (linux-arm64.cmake, ...) that names it first:
# OTA_CROSS_TRIPLET, OTA_CROSS_PROCESSOR, OTA_CROSS_QEMU, OTA_CROSS_DEB_ARCH.
# The compiler brings the target's C library and libstdc++; every other
# library, and its CMake and pkg-config files, is found in the target's
# sysroot alone, OTA_SYSROOT (build-sysroot-ARCH beside this folder by
# default; scripts/cross_deps.sh makes it), and never on the host. The tests
# run under qemu-user with the sysroot as the target's root (-L).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${OTA_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${OTA_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OTA_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${OTA_CROSS_TRIPLET})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${OTA_CROSS_DEB_ARCH})

if(NOT OTA_SYSROOT)
  get_filename_component(OTA_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-sysroot-${OTA_CROSS_DEB_ARCH} ABSOLUTE)
endif()
if(NOT EXISTS ${OTA_SYSROOT}/packages)
  message(FATAL_ERROR "no sysroot for ${OTA_CROSS_DEB_ARCH} at ${OTA_SYSROOT}: make it with scripts/cross_deps.sh ${OTA_CROSS_DEB_ARCH}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OTA_SYSROOT)
set(CMAKE_FIND_ROOT_PATH ${OTA_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The architecture's own headers (OpenSSL's configuration.h) lie apart.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${OTA_SYSROOT}/usr/include/${OTA_CROSS_TRIPLET})
# pkg-config, which some find modules ask first (OpenSSL's), reads the
# sysroot's .pc files, and puts the sysroot before the paths they give.
set(ENV{PKG_CONFIG_LIBDIR} ${OTA_SYSROOT}/usr/lib/${OTA_CROSS_TRIPLET}/pkgconfig:${OTA_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${OTA_SYSROOT})
# The .deb's dependencies are reckoned against the sysroot's libraries and
# the symbols files of the packages they came from (its DEBIAN/).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${OTA_SYSROOT}/lib/${OTA_CROSS_TRIPLET} ${OTA_SYSROOT}/usr/lib/${OTA_CROSS_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR ${OTA_CROSS_QEMU} -L ${OTA_SYSROOT})
