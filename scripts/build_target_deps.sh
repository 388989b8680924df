#!/usr/bin/env bash
# Cross-builds, into PREFIX, what the tools need for a target whose Debian
# packages cannot serve: liblzma.a (and xz, xz.exe on Windows) from an XZ
# Utils source tarball, the same release as the host's xz so that both give
# the same streams; GoogleTest from Debian's source package, for the tests;
# and the nlohmann/json headers beside them. The Windows build uses it
# (TOOLCHAIN cmake/mingw-w64-x86_64.cmake); the Linux targets have Debian's
# packages, unpacked into a sysroot (scripts/cross_deps.sh).
# Usage: scripts/build_target_deps.sh TOOLCHAIN XZ_TARBALL PREFIX
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 TOOLCHAIN XZ_TARBALL PREFIX" >&2; exit 2; }
toolchain=$(realpath "$1")
tarball=$(realpath "$2")
mkdir -p "$3"
prefix=$(realpath "$3")
# windres, which builds xz.exe's resources, splits its include paths at
# blanks: the sources are unpacked where there is none.
scratch=${TMPDIR:-/tmp}
case $scratch in *' '*) scratch=/tmp ;; esac
work=$(mktemp -d -p "$scratch")
trap 'rm -rf "$work"' EXIT

tar -xJf "$tarball" -C "$work"
source_dir=$(echo "$work"/xz-*)
cmake -S "$source_dir" -B "$work/xz-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCREATE_XZ_SYMLINKS=OFF \
  -DCREATE_LZMA_SYMLINKS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
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
