# Toolchain file: 32-bit ARM Linux (ARMv7 with hardware floating point); the
# build gives it 64-bit file offsets.
set(OTA_CROSS_TRIPLET arm-linux-gnueabihf)
set(OTA_CROSS_PROCESSOR arm)
set(OTA_CROSS_QEMU qemu-arm)
set(OTA_CROSS_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
