# Toolchain file: big-endian Linux on IBM Z (s390x).
set(OTA_CROSS_TRIPLET s390x-linux-gnu)
set(OTA_CROSS_PROCESSOR s390x)
set(OTA_CROSS_QEMU qemu-s390x)
set(OTA_CROSS_DEB_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
