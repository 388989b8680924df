#!/usr/bin/env bash
# Builds a release from the commit checked out, which must be clean: the
# source tarball, the .deb for amd64, arm64 and armhf, the win64 ZIP, and
# SHA256SUMS over them, into OUTDIR (default: dist). Everything is built from
# the commit's own files (git archive), with SOURCE_DATE_EPOCH taken from the
# commit, so two runs give byte-identical files, wherever they run.
# Installs what it needs, as CI does (scripts/install_deps.sh, cross_deps.sh).
# The XZ Utils tarball for the Windows build is found as CI finds it
# (OTA_XZ_TARBALL, or ../shared/third_party).
# Usage: scripts/release.sh [OUTDIR]
set -euo pipefail
umask 022  # the packages' permission bits do not depend on the caller's umask
cd "$(dirname "$0")/.."
root=$PWD
source .ci/lib.sh
out=$(realpath -m "${1:-dist}")

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "$0: the checkout has changes; a release is built from a commit as it is" >&2
  exit 1
fi
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
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
rm -rf "$out"
mkdir -p "$out"
git archive --format=tar --prefix="$name/" HEAD | gzip -9 -n > "$out/$name.tar.gz"
tar -xzf "$out/$name.tar.gz" -C "$work"
src=$work/$name

# configure BUILD_DIR [CMAKE ARGUMENTS...]: a Release build of the tools alone.
configure() {
  local dir=$1
  shift
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOTA_BUILD_TESTS=OFF \
    "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$work=." "$@" > /dev/null
  cmake --build "$dir" > /dev/null
}

for arch in amd64 arm64 armhf; do
  toolchain=()
  [ "$arch" = amd64 ] || toolchain=("-DCMAKE_TOOLCHAIN_FILE=$src/cmake/linux-$arch.cmake")
  configure "$work/build-$arch" "${toolchain[@]}"
  (cd "$work/build-$arch" && cpack -G DEB > /dev/null)
  cp "$work/build-$arch"/image-gen-header_"${version}"_"$arch".deb "$out/"
done

# Windows: liblzma and xz.exe from the XZ Utils release, then the tools.
scripts/build_target_deps.sh "$src/cmake/mingw-w64-x86_64.cmake" "$tarball" "$work/windows-deps" > /dev/null
configure "$work/build-win64" "-DCMAKE_TOOLCHAIN_FILE=$src/cmake/mingw-w64-x86_64.cmake" \
  "-DOTA_WINDOWS_PREFIX=$work/windows-deps"
(cd "$work/build-win64" && cpack -G ZIP > /dev/null)
cp "$work/build-win64/$name-win64.zip" "$out/"

(cd "$out" && sha256sum -- *.tar.gz *.deb *.zip > SHA256SUMS)
cat "$out/SHA256SUMS"
