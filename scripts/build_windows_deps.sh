#!/usr/bin/env bash
# Cross-builds what the Windows tools need and Debian has no Windows build of,
# into PREFIX: liblzma.a and xz.exe from an XZ Utils source tarball (the same
# release as the Linux xz, so that both give the same streams), and, for the
# test suite, GoogleTest from Debian's source package and the nlohmann/json
# headers. Needs the mingw-w64 posix compilers (g++-mingw-w64-x86-64).
# Usage: scripts/build_windows_deps.sh XZ_TARBALL PREFIX
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 XZ_TARBALL PREFIX" >&2; exit 2; }
tarball=$(realpath "$1")
mkdir -p "$2"
prefix=$(realpath "$2")
toolchain=$(realpath "$(dirname "$0")/../cmake/mingw-w64-x86_64.cmake")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tar -xJf "$tarball" -C "$work"
source_dir=$(echo "$work"/xz-*)
cmake -S "$source_dir" -B "$work/xz-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
cmake --build "$work/xz-build"
cmake --install "$work/xz-build" > /dev/null
# Its licence travels with xz.exe in the Windows ZIP.
mkdir -p "$prefix/share/doc/xz"
cp "$source_dir/COPYING" "$prefix/share/doc/xz/COPYING"

if [ -d /usr/src/googletest ]; then
  cmake -S /usr/src/googletest -B "$work/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
  cmake --build "$work/gtest-build"
  cmake --install "$work/gtest-build" > /dev/null
fi

# Header-only: its CMake files find the headers beside them, in PREFIX.
if [ -d /usr/include/nlohmann ] && [ -d /usr/share/cmake/nlohmann_json ]; then
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  cp -r /usr/include/nlohmann "$prefix/include/"
  cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
fi
echo "built into $prefix"
