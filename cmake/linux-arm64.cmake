# Toolchain file: 64-bit ARM Linux (AArch64).
set(OTA_CROSS_TRIPLET aarch64-linux-gnu)
set(OTA_CROSS_PROCESSOR aarch64)
set(OTA_CROSS_QEMU qemu-aarch64)
set(OTA_CROSS_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
