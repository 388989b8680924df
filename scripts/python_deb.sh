#!/usr/bin/env bash
# The Debian package of the Python module, python3-image-gen-header, beside
# the tools' .deb: ota_image as the build made it (BUILD_DIR/python), under
# /usr/lib/python3/dist-packages, with its dependencies found by
# dpkg-shlibdeps and the interpreter it was built for.
# Usage: scripts/python_deb.sh BUILD_DIR   (writes BUILD_DIR/python3-image-gen-header_VERSION_ARCH.deb)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
package=python3-image-gen-header
version=$(sed -n 's/^project(image_gen_header VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
[ -d "$build/python/ota_image" ] || { echo "no $build/python/ota_image: build with pybind11 first" >&2; exit 1; }
module=$(echo "$build"/python/ota_image/_ota_image.*.so)
[ -f "$module" ] || { echo "no _ota_image module in $build/python/ota_image" >&2; exit 1; }
python_version=$(basename "$module" | sed -n 's/^_ota_image\.cpython-\([0-9]\)\([0-9]*\)-.*/\1.\2/p')

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
dest=$root/usr/lib/python3/dist-packages/ota_image
docs=$root/usr/share/doc/$package
mkdir -p "$dest" "$docs" "$root/DEBIAN" "$stage/debian"
install -m 0644 "$build"/python/ota_image/{__init__.py,__init__.pyi,py.typed} "$dest/"
install -m 0644 "$module" "$dest/"
install -m 0644 packaging/copyright "$docs/copyright"
sed "s/^image-gen-header (/$package (/" packaging/changelog | gzip -9 -n > "$docs/changelog.gz"
chmod 0644 "$docs/changelog.gz"

# The libraries the module links, as dpkg-shlibdeps finds them.
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" > "$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O "root/usr/lib/python3/dist-packages/ota_image/$(basename "$module")" 2>/dev/null |
         sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "dpkg-shlibdeps found no dependencies of $module" >&2; exit 1; }
next_minor=${python_version%.*}.$((${python_version#*.} + 1))
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat > "$root/DEBIAN/control" <<CONTROL
Package: $package
Version: $version
Architecture: $arch
Maintainer: image_gen_header developers <maintainers@users.noreply.c-seed-769e2b61.example>
Installed-Size: $size
Depends: python3 (>= $python_version~), python3 (<< $next_minor), xz-utils, $shlibs
Section: python
Priority: optional
Description: Python module to pack raw flash images into OTA files
 ota_image packs a raw flash image of a Wi-Fi device into an OTA file (a
 128-byte header, then the image or an xz stream of it), and verifies and
 unpacks OTA files, in-process: the same code as the image_gen_header and
 ota_info tools, with a report whose attributes are ota_info's JSON keys.
CONTROL
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
deb=$build/${package}_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" > /dev/null
echo "$deb"
