#!/usr/bin/env bash
# The CMake package as a firmware project uses it: installed to a prefix, the
# example project packs and verifies its image, packs again when the image
# changes, and fails the build when the OTA file outgrows its slot; the same
# project also builds against this source tree through add_subdirectory.
# Usage: tests/cmake_package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" > /dev/null
cp "$source/examples/sample.bin" "$work/app.bin"
configure() { cmake -S "$source/examples/cmake-firmware" -B "$work/example" -G Ninja -DFIRMWARE_IMAGE="$work/app.bin" "$@" > /dev/null; }

configure -DCMAKE_PREFIX_PATH="$work/prefix"
cmake --build "$work/example" > "$work/log" 2>&1 || { cat "$work/log"; fail "the example does not build"; }
"$work/prefix/bin/ota_info" "$work/example/app.ota.bin" | grep -qx "verdict:       valid" || fail "app.ota.bin is not valid"
[ "$(ls "$work/example" | grep -c '\.bin$')" = 1 ] || fail "expected only app.ota.bin: nothing is copied"
"$work/prefix/bin/ota_info" "$work/example/ota/app-plain.ota.bin" | grep -qx "mode:          image_copy" ||
  fail "OUTPUT did not name the OTA file"

# The build's whole output is taken before it is searched: grep -q would stop
# reading at the first match, and the build could die of SIGPIPE.
log=$(cmake --build "$work/example")
grep -q "no work to do" <<< "$log" || fail "an up-to-date OTA file was packed again"
printf 'new' >> "$work/app.bin"
log=$(cmake --build "$work/example")
grep -q "Packing app.ota.bin" <<< "$log" || fail "a changed image was not packed again"

configure -DFIRMWARE_SLOT_SIZE=100
if cmake --build "$work/example" > "$work/log" 2>&1; then fail "an OTA file larger than its slot passed"; fi
grep -q "problem:       file is [0-9]* bytes, more than the 100-byte limit" "$work/log" || { cat "$work/log"; fail "no reason given"; }
[ ! -e "$work/example/app.ota.bin" ] || fail "the rejected OTA file was left behind"

# A MAX_SIZE that is no size fails when CMake configures, naming it.
if configure -DFIRMWARE_SLOT_SIZE="12 GB" > "$work/log" 2>&1; then fail "a bad MAX_SIZE was taken"; fi
grep -q "MAX_SIZE '12 GB' is not a size" "$work/log" || { cat "$work/log"; fail "the bad MAX_SIZE was not named"; }

cmake -S "$source/examples/cmake-firmware" -B "$work/in-tree" -G Ninja -DIMAGE_GEN_HEADER_SOURCE="$source" > /dev/null
cmake --build "$work/in-tree" > "$work/log" 2>&1 || { cat "$work/log"; fail "the example does not build from the source tree"; }
[ -s "$work/in-tree/app.ota.bin" ] || fail "no app.ota.bin from the source tree"
echo "1 passed, 0 failed"
