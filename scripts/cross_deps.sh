#!/usr/bin/env bash
# What cross-building for ARCH (arm64, armhf or s390x) and testing the build
# under qemu-user need. On the host: the cross compiler, whose packages bring
# the target's C library and libstdc++ to build with, and qemu-user. In
# build-sysroot-ARCH/, downloaded and unpacked, never installed
# (scripts/unpack_packages.sh): the target's liblzma, libcrypto, GoogleTest
# and nlohmann-json, and the C and C++ runtimes the tests run with under qemu
# and the .deb's dependencies are reckoned against. The host needs no
# foreign architecture, and its own packages do not matter. A sysroot that
# holds every package is kept; delete it to fetch the packages again.
# qemu's binfmt_misc entries, which let a test start a built tool as it is,
# are the host's setup (scripts/setup_host.sh).
# Usage: scripts/cross_deps.sh ARCH
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
  arm64) triplet=aarch64-linux-gnu ;;
  armhf) triplet=arm-linux-gnueabihf ;;
  s390x) triplet=s390x-linux-gnu ;;
  *) echo "$0: no cross build for '$arch' (arm64, armhf or s390x)" >&2; exit 2 ;;
esac
scripts/install_packages.sh --no-install-recommends "g++-$triplet" qemu-user cmake ninja-build xz-utils

sysroot=build-sysroot-$arch
packages=(libc6 libgcc-s1 libstdc++6 liblzma5 liblzma-dev libssl3 libssl-dev libgtest-dev nlohmann-json3-dev)
complete=true
for package in "${packages[@]}"; do
  grep -q "^$package " "$sysroot/packages" 2> /dev/null || { complete=false; break; }
done
if ! $complete; then
  rm -rf "$sysroot"
  scripts/unpack_packages.sh "$arch" "$sysroot" "${packages[@]}"
fi
