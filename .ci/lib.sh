# Shared by the CI stages: sourced, never run. Each stage can run alone from
# the top of a clone: it installs what it needs and builds what it uses.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

# The Linux tools in build/, built (again) from this checkout: a stage tests
# what it built, never what an earlier run left.
linux_tools() {
  scripts/install_deps.sh
  cmake --preset default > /dev/null
  cmake --build --preset default
}

# The build of the tools for ARCH (arm64, armhf, s390x) in build-linux-ARCH,
# built (again) from this checkout against its sysroot.
cross_tools() {
  scripts/cross_deps.sh "$1"
  cmake --preset "linux-$1" > /dev/null
  cmake --build --preset "linux-$1"
}

# The Windows build in build-windows, built (again) from this checkout, and
# what it needs: mingw-w64, Wine, and liblzma, xz.exe and GoogleTest
# cross-built from the XZ Utils release the Linux xz comes from.
windows_tools() {
  scripts/install_deps.sh
  scripts/install_packages.sh --no-install-recommends g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 unzip
  export OTA_WINDOWS_PREFIX=$root/build-windows-deps
  [ -e "$OTA_WINDOWS_PREFIX/lib/liblzma.a" ] ||
    scripts/build_target_deps.sh cmake/mingw-w64-x86_64.cmake "$(xz_tarball)" "$OTA_WINDOWS_PREFIX"
  cmake --preset windows > /dev/null
  cmake --build --preset windows
}

# qemu-user's binfmt_misc entries, which the cross builds' tests need to
# start a built tool, are the host's setup, made once by scripts/setup_host.sh.
need_binfmt() {
  scripts/setup_host.sh --check
}

# The XZ Utils release the Linux xz comes from, for the targets that build
# liblzma themselves: OTA_XZ_TARBALL, else ../shared/third_party beside this
# clone, or beside the repository it was cloned from. Checked against its
# SHA-256 (see ../shared/third_party/README.md).
xz_tarball() {
  local tarball=${OTA_XZ_TARBALL:-} origin top
  if [ -z "$tarball" ]; then
    origin=$(git config --get remote.origin.url || true)
    for top in "$root" ${origin:+"$origin"}; do
      [ -e "$top/../shared/third_party/xz-5.4.1.tar.xz" ] && { tarball=$top/../shared/third_party/xz-5.4.1.tar.xz; break; }
    done
  fi
  [ -n "$tarball" ] && [ -e "$tarball" ] ||
    { echo "no xz-5.4.1.tar.xz in ../shared/third_party beside this clone or its origin; set OTA_XZ_TARBALL" >&2; return 1; }
  echo "bc00ae7258956c018c7b5a18e2a6890cbc6cabbf4e0838592b67d697c47212b2  $tarball" | sha256sum -c - >&2
  echo "$tarball"
}

# The version CMakeLists.txt gives the project, which every artifact carries.
project_version() {
  sed -n 's/^project(image_gen_header VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt
}
