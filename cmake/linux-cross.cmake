# Cross-building for another Linux with Debian's cross compiler, included by
# a toolchain file per target (linux-arm64.cmake, ...) that names it first:
# OTA_CROSS_TRIPLET, OTA_CROSS_PROCESSOR, OTA_CROSS_QEMU, OTA_CROSS_DEB_ARCH.
# Libraries come from Debian's multiarch packages for the target, or from
# OTA_CROSS_PREFIX where Debian's cannot be installed beside the host's
# (scripts/cross_deps.sh says which); the tests run under qemu-user with the
# multiarch root (-L /), so that the program and the libraries it loads are
# the target's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${OTA_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${OTA_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OTA_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${OTA_CROSS_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR ${OTA_CROSS_QEMU} -L /)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${OTA_CROSS_DEB_ARCH})
# pkg-config, which some find modules ask first (OpenSSL's), reads the
# target's .pc files, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${OTA_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)  # the .deb's architecture, not the host's
if(OTA_CROSS_PREFIX)
  list(PREPEND CMAKE_PREFIX_PATH ${OTA_CROSS_PREFIX})
endif()
