# Toolchain file: big-endian Linux on IBM Z (s390x). Debian's liblzma and
# libssl for it are releases behind the host's, so OTA_CROSS_PREFIX holds
# liblzma built from source and libcrypto.a unpacked from Debian's package,
# linked statically (no libcrypto for s390x is installed to load).
set(OTA_CROSS_TRIPLET s390x-linux-gnu)
set(OTA_CROSS_PROCESSOR s390x)
set(OTA_CROSS_QEMU qemu-s390x)
set(OTA_CROSS_DEB_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
set(OPENSSL_USE_STATIC_LIBS TRUE)
