#!/usr/bin/env bash
# Downloads Debian packages of architecture ARCH and unpacks them into DIR
# (dpkg-deb -x), installing nothing: a cross build's sysroot, or a tool kept
# beside the build. apt runs on a state of DIR's own (.apt/: its indexes, for
# ARCH alone, and its downloads), so the host needs no foreign architecture,
# and what the host has installed, or which versions other architectures'
# indexes hold, does not matter. An index that cannot be fetched (a mirror
# mid-sync) is not fatal by itself; a package that cannot be had is, named.
#
# DIR/packages lists what was unpacked ("package version", sorted), and
# DIR/DEBIAN holds the packages' symbols and shlibs files together, so that
# dpkg-shlibdeps, pointed at DIR's libraries, gives a .deb the versioned
# dependencies it would give against installed packages.
#
# With --missing-from-host, PACKAGE's dependencies are unpacked too, all but
# those the host has installed (which the tool then uses from the host).
# Usage: scripts/unpack_packages.sh [--missing-from-host] ARCH DIR PACKAGE...
set -euo pipefail
closure=false
if [ "${1:-}" = --missing-from-host ]; then
  closure=true
  shift
fi
[ $# -ge 3 ] || { echo "usage: $0 [--missing-from-host] ARCH DIR PACKAGE..." >&2; exit 2; }
arch=$1
mkdir -p "$2"
dir=$(realpath "$2")
shift 2

state=$dir/.apt
mkdir -p "$state/lists/partial" "$state/archives/partial"
status=$state/status
if $closure; then status=/var/lib/dpkg/status; else : > "$status"; fi
apt=(apt-get -q -o Acquire::Retries=3 -o APT::Architecture="$arch" -o APT::Architectures::="$arch"
     -o Dir::State::Lists="$state/lists" -o Dir::State::status="$status" -o Dir::Cache="$state"
     -o Dir::Cache::archives="$state/archives" -o APT::Sandbox::User="$(id -un)")
"${apt[@]}" update > "$state/update.log" 2>&1 ||
  { grep '^[EW]:' "$state/update.log" >&2 || true
    echo "warning: some $arch package indexes could not be fetched; going on with those there are" >&2; }

packages=("$@")
if $closure; then
  # What apt would install on this host, less what the host has already.
  mapfile -t packages < <("${apt[@]}" install --simulate --no-install-recommends "$@" 2> /dev/null |
                           awk '/^Inst / && $3 !~ /^\[/ { print $2 }')
  [ ${#packages[@]} -gt 0 ] || { echo "cannot find $* or what it needs for $arch" >&2; exit 1; }
fi

downloads=$state/downloads
rm -rf "$downloads"
mkdir -p "$downloads"
for package in "${packages[@]}"; do
  (cd "$downloads" && "${apt[@]}" download "$package" > /dev/null 2> "$state/download.log") ||
    { sed -n 's/^E: //p' "$state/download.log" >&2
      echo "cannot download $package for $arch from the package indexes" >&2; exit 1; }
done

mkdir -p "$dir/DEBIAN"
: > "$dir/DEBIAN/symbols"
: > "$dir/DEBIAN/shlibs"
: > "$dir/packages.new"
for deb in "$downloads"/*.deb; do
  dpkg-deb -x "$deb" "$dir"
  control=$state/control
  rm -rf "$control"
  dpkg-deb -e "$deb" "$control"
  [ ! -e "$control/symbols" ] || cat "$control/symbols" >> "$dir/DEBIAN/symbols"
  [ ! -e "$control/shlibs" ] || cat "$control/shlibs" >> "$dir/DEBIAN/shlibs"
  dpkg-deb --show --showformat='${Package} ${Version}\n' "$deb" >> "$dir/packages.new"
done
rm -rf "$downloads" "$state/control"
# A link to an absolute path points into DIR instead, as the package meant.
find "$dir" -path "$state" -prune -o -type l -lname '/*' -print | while read -r link; do
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$dir$(readlink "$link")")" "$link"
done
sort "$dir/packages.new" > "$dir/packages"
rm "$dir/packages.new"
