#!/usr/bin/env bash
# Builds a release from the commit checked out, which must be clean: the
# source tarball, the .deb for amd64, arm64 and armhf, the win64 ZIP, a
# .buildinfo of what built them, and
# SHA256SUMS over them, into OUTDIR (default: dist, in the checkout).
# OUTDIR must be absent, empty, or an earlier release (SHA256SUMS and the
# files it names, nothing else): only the release's own files are replaced,
# and anything else is refused before any work. Everything is built from
# the commit's own files (git archive), with SOURCE_DATE_EPOCH taken from the
# commit, so two runs give byte-identical files on a Debian 12 host with the
# packages the .buildinfo lists.
# Installs what it needs, as CI does (scripts/install_deps.sh, cross_deps.sh).
# The XZ Utils tarball for the Windows build is found as CI finds it
# (OTA_XZ_TARBALL, or ../shared/third_party).
# Usage: scripts/release.sh [OUTDIR]
set -euo pipefail
umask 022  # the packages' permission bits do not depend on the caller's umask
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m -- "${1:-$here/dist}")  # a relative OUTDIR is the caller's
cd "$here"
root=$PWD
source .ci/lib.sh

# What OUTDIR holds already: nothing, or an earlier release.
earlier=()
if [ -e "$out" ] || [ -L "$out" ]; then
  [ -d "$out" ] && [ ! -L "$out" ] || { echo "$0: $out is not a directory" >&2; exit 1; }
  if [ -e "$out/SHA256SUMS" ]; then
    # Names in this folder only: a name with a slash is no release's.
    mapfile -t earlier < <(sed -n 's/^[0-9a-f]\{64\}  \([^/]*\)$/\1/p' "$out/SHA256SUMS")
    earlier+=(SHA256SUMS)
  fi
  unknown=$(cd "$out" && find . -mindepth 1 -maxdepth 1 -printf '%P\n' | grep -vxF -f <(printf '%s\n' "${earlier[@]}" "") || true)
  [ -z "$unknown" ] ||
    { echo "$0: $out holds files that are not an earlier release's (${unknown//$'\n'/, }): give an empty or new OUTDIR" >&2; exit 1; }
fi

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "$0: the checkout has changes; a release is built from a commit as it is" >&2
  exit 1
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
commit=$(git rev-parse HEAD)  # the tarball has no .git: --version is told it
version=$(project_version)
name=image-gen-header-$version

scripts/install_deps.sh
scripts/install_packages.sh --no-install-recommends dpkg-dev g++-mingw-w64-x86-64 mingw-w64-tools
scripts/cross_deps.sh arm64
scripts/cross_deps.sh armhf
tarball=$(xz_tarball)

# A scratch directory of this run's: the compiler writes paths relative to it
# (-ffile-prefix-map), so that its name reaches no file.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
git archive --format=tar --prefix="$name/" HEAD | gzip -9 -n > "$work/out/$name.tar.gz"
tar -xzf "$work/out/$name.tar.gz" -C "$work"
src=$work/$name

# A path as the shell that runs the compiler reads it (CMAKE_CXX_FLAGS
# reaches it as written), so that a space in it is no separator.
quoted() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
prefix_map="-ffile-prefix-map=$(quoted "$work")=."

# configure BUILD_DIR [CMAKE ARGUMENTS...]: a Release build of the tools alone.
configure() {
  local dir=$1
  shift
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOTA_BUILD_TESTS=OFF "-DOTA_COMMIT=$commit" "$@" > /dev/null
  cmake --build "$dir" > /dev/null
}

# The cross builds use this checkout's sysroots (scripts/cross_deps.sh);
# their paths reach no file either.
for arch in amd64 arm64 armhf; do
  target=() flags=$prefix_map
  if [ "$arch" != amd64 ]; then
    sysroot=$root/build-sysroot-$arch
    target=("-DCMAKE_TOOLCHAIN_FILE=$src/cmake/linux-$arch.cmake" "-DOTA_SYSROOT=$sysroot")
    flags+=" -ffile-prefix-map=$(quoted "$sysroot")=/"
  fi
  configure "$work/build-$arch" "-DCMAKE_CXX_FLAGS=$flags" "${target[@]}"
  (cd "$work/build-$arch" && cpack -G DEB > /dev/null)
  cp "$work/build-$arch"/image-gen-header_"${version}"_"$arch".deb "$work/out/"
done

# Windows: liblzma and xz.exe from the XZ Utils release, then the tools.
scripts/build_target_deps.sh "$src/cmake/mingw-w64-x86_64.cmake" "$tarball" "$work/windows-deps" > /dev/null
configure "$work/build-win64" "-DCMAKE_TOOLCHAIN_FILE=$src/cmake/mingw-w64-x86_64.cmake" \
  "-DOTA_WINDOWS_PREFIX=$work/windows-deps" "-DCMAKE_CXX_FLAGS=$prefix_map"
(cd "$work/build-win64" && cpack -G ZIP > /dev/null)
cp "$work/build-win64/$name-win64.zip" "$work/out/"

# What built it, as a .buildinfo does: the commit, and the versions of the
# tools and libraries on this host and in the sysroots, so that a rebuild
# can start from the same packages.
{
  echo "commit: $commit"
  echo "source_date_epoch: $SOURCE_DATE_EPOCH"
  echo "xz_tarball: $(sha256sum < "$tarball" | cut -d' ' -f1)  $(basename "$tarball")"
  echo "host: $(dpkg --print-architecture), $(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "host packages:"
  { dpkg-query -W -f='  ${Package} ${Version}\n' cmake ninja-build g++-12 gcc-12 binutils dpkg-dev liblzma-dev libssl-dev \
      nlohmann-json3-dev xz-utils g++-12-aarch64-linux-gnu g++-12-arm-linux-gnueabihf g++-mingw-w64-x86-64 \
      binutils-mingw-w64-x86-64 2> /dev/null || true; } | sort
  for arch in arm64 armhf; do
    echo "$arch sysroot packages:"
    sed 's/^/  /' "$root/build-sysroot-$arch/packages"
  done
} > "$work/out/$name.buildinfo"
(cd "$work/out" && sha256sum -- *.tar.gz *.deb *.zip *.buildinfo > SHA256SUMS)

# The earlier release's files go, then this one's come; nothing else is touched.
mkdir -p "$out"
for file in "${earlier[@]}"; do rm -f -- "$out/$file"; done
cp -- "$work/out"/* "$out/"
cat "$out/SHA256SUMS"
