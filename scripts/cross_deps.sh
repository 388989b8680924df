#!/usr/bin/env bash
# Installs what cross-building for ARCH (arm64, armhf or s390x) and testing
# the build under qemu-user needs, from Debian: the cross compiler, qemu, the
# target's C and C++ runtimes and, where they install beside the host's,
# liblzma, libcrypto and GoogleTest (multiarch). It registers qemu with
# binfmt_misc, so that a test can start a built tool as it is. For s390x,
# whose Debian liblzma and libssl are releases behind the host's, liblzma and
# GoogleTest are built from XZ_TARBALL into PREFIX
# (scripts/build_target_deps.sh), and Debian's libssl-dev for s390x is
# unpacked there (its headers and static libcrypto.a), not installed.
# Usage: scripts/cross_deps.sh ARCH [XZ_TARBALL PREFIX]
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1
case $arch in
  arm64) triplet=aarch64-linux-gnu qemu=aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf qemu=arm ;;
  s390x) triplet=s390x-linux-gnu qemu=s390x ;;
  *) echo "$0: no cross build for '$arch' (arm64, armhf or s390x)" >&2; exit 2 ;;
esac
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)

if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  "${sudo[@]}" dpkg --add-architecture "$arch"
  "${sudo[@]}" apt-get update -q
fi
packages=("g++-$triplet" qemu-user qemu-user-binfmt "libc6:$arch" "libstdc++6:$arch" nlohmann-json3-dev xz-utils
          cmake ninja-build googletest)
[ "$arch" = s390x ] || packages+=("liblzma-dev:$arch" "libgtest-dev:$arch" "libssl-dev:$arch")
scripts/install_packages.sh --no-install-recommends "${packages[@]}"

# binfmt_misc may need mounting before qemu's entries can be registered.
[ -e /proc/sys/fs/binfmt_misc/register ] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
# qemu-user-binfmt's entry for this target alone, as systemd-binfmt would register it.
if [ ! -e "/proc/sys/fs/binfmt_misc/qemu-$qemu" ]; then
  "${sudo[@]}" tee /proc/sys/fs/binfmt_misc/register < "/usr/lib/binfmt.d/qemu-$qemu.conf" > /dev/null
fi

if [ "$arch" = s390x ]; then
  [ $# -eq 3 ] || { echo "$0: s390x needs XZ_TARBALL and PREFIX" >&2; exit 2; }
  [ -e "$3/lib/liblzma.a" ] || scripts/build_target_deps.sh cmake/linux-s390x.cmake "$2" "$3"
  if [ ! -e "$3/lib/libcrypto.a" ]; then
    unpack=$(mktemp -d)
    chmod 755 "$unpack"  # apt downloads as its own user
    (cd "$unpack" && apt-get download -q "libssl-dev:$arch" > /dev/null && dpkg-deb -x libssl-dev_*.deb root)
    mkdir -p "$3/include" "$3/lib"
    # The architecture's own headers (configuration.h) join the common ones.
    cp -r "$unpack/root/usr/include/openssl" "$3/include/"
    cp "$unpack/root/usr/include/$triplet/openssl/"* "$3/include/openssl/"
    cp "$unpack/root/usr/lib/$triplet/libcrypto.a" "$3/lib/"
    rm -rf "$unpack"
  fi
fi
