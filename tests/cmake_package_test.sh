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
[ "$(ls "$work/example" | grep '\.bin$' | tr '\n' ' ')" = "app.ota.bin firmware.bin firmware.ota.bin " ] ||
  fail "expected only the OTA files and the image built from source: nothing is copied"
# The image built from source carries the label its linker script placed.
"$work/prefix/bin/ota_info" "$work/example/firmware.ota.bin" | grep -qx 'label:         "wifi-app v2.3.1"' ||
  fail "the label recipe does not reach the OTA file"
"$work/prefix/bin/ota_info" "$work/example/ota/app-plain.ota.bin" | grep -qx "mode:          image_copy" ||
  fail "OUTPUT did not name the OTA file"

# A program on the library, shared and static, built against the installed
# package: the file it packs is the tool's. Not for a cross build's library
# (OTA_EXAMPLE_CROSS), which the host's compiler cannot link; OTA_EXAMPLE_FLAGS
# are the sanitizers an instrumented library needs in the program too.
cp "$source/examples/sample.bin" "$work/lib.bin"
"$work/prefix/bin/image_gen_header" -o "$work/tool.ota.bin" "$work/lib.bin" image_compress > /dev/null
for static in OFF ON; do
  [ -z "${OTA_EXAMPLE_CROSS:-}" ] || break
  rm -rf "$work/library" "$work/lib.ota.bin"
  cmake -S "$source/examples/library" -B "$work/library" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
        -DPACK_AND_CHECK_STATIC=$static -DCMAKE_CXX_FLAGS="${OTA_EXAMPLE_FLAGS:-}" > /dev/null
  cmake --build "$work/library" > "$work/log" 2>&1 || { cat "$work/log"; fail "the library example ($static) does not build"; }
  "$work/library/pack_and_check" "$work/lib.bin" image_compress | grep -q "lib.ota.bin: valid, image 4096 bytes" ||
    fail "the library example ($static) did not pack and check"
  cmp -s "$work/lib.ota.bin" "$work/tool.ota.bin" || fail "the library ($static) packed another file than the tool"
done

# The build's whole output is taken before it is searched: grep -q would stop
# reading at the first match, and the build could die of SIGPIPE.
log=$(cmake --build "$work/example")
grep -q "no work to do" <<< "$log" || fail "an up-to-date OTA file was packed again"
printf 'new' >> "$work/app.bin"
log=$(cmake --build "$work/example")
grep -q "Packing app.ota.bin" <<< "$log" || fail "a changed image was not packed again"

# How full the slot is: told when the file fits, and when it does not.
configure -DFIRMWARE_SLOT_SIZE=1M
log=$(cmake --build "$work/example")
grep -q "app.ota.bin: slot 0x100000, [0-9]*\.[0-9]% used, [0-9]* bytes free" <<< "$log" || { echo "$log"; fail "no headroom told"; }
configure -DFIRMWARE_SLOT_SIZE=100
if cmake --build "$work/example" > "$work/log" 2>&1; then fail "an OTA file larger than its slot passed"; fi
grep -q "problem:       file is [0-9]* bytes, more than the 100-byte limit" "$work/log" || { cat "$work/log"; fail "no reason given"; }
grep -q "slot:          0x64, [0-9]*\.[0-9]% used, [0-9]* bytes over" "$work/log" || { cat "$work/log"; fail "no slot line"; }
[ ! -e "$work/example/app.ota.bin" ] || fail "the rejected OTA file was left behind"

# A MAX_SIZE that is no size fails when CMake configures, naming it.
if configure -DFIRMWARE_SLOT_SIZE="12 GB" > "$work/log" 2>&1; then fail "a bad MAX_SIZE was taken"; fi
grep -q "MAX_SIZE '12 GB' is not a size" "$work/log" || { cat "$work/log"; fail "the bad MAX_SIZE was not named"; }

# What can never build stops CMake when it configures, naming the argument.
mkdir -p "$work/checks"
refused() {  # CALL WHAT-THE-MESSAGE-SAYS
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(checks LANGUAGES NONE)\nfind_package(ImageGenHeader 1 REQUIRED)\n%s\n' \
    "$1" > "$work/checks/CMakeLists.txt"
  rm -rf "$work/checks/build"
  if cmake -S "$work/checks" -B "$work/checks/build" -DCMAKE_PREFIX_PATH="$work/prefix" > "$work/log" 2>&1; then
    fail "configure took: $1"
  fi
  tr -s ' \n' ' ' < "$work/log" | grep -qF -- "$2" || { cat "$work/log"; fail "not named: $2"; }
}
refused 'image_gen_header_pack(a INPUT ${CMAKE_BINARY_DIR}/x.bin OUTPUT x.bin MODE image_copy)' "OUTPUT 'x.bin' is INPUT"
refused 'image_gen_header_pack(a INPUT "x;y.bin" MODE image_copy)' "INPUT 'x;y.bin' holds a ';'"
refused 'image_gen_header_pack(a INPUT x.bin OUTPUT "$<CONFIG>.ota.bin" MODE image_copy)' "OUTPUT '\$<CONFIG>.ota.bin' holds"
refused 'image_gen_header_pack(a INPUT "f$(X)w.bin" MODE image_copy)' "INPUT 'f\$(X)w.bin' holds a ';' or a '\$'"
refused 'image_gen_header_pack(a INPUT x.bin OUTPUT "o$(X)p.ota.bin" MODE image_copy)' "OUTPUT 'o\$(X)p.ota.bin' holds"
refused 'image_gen_header_pack(a INPUT x.bin MODE image_copy VERIFY MAX_SIZE 99999999999G)' "MAX_SIZE '99999999999G' is not a size"
refused 'image_gen_header_pack(a INPUT x.bin MODE image_copy VERIFY MAX_SIZE 18446744073709551616)' "MAX_SIZE '18446744073709551616' is not a size"

# A file ota_info could not check is removed as a rejected one is.
printf '#!/bin/sh\nexit 2\n' > "$work/cannot-check"
chmod +x "$work/cannot-check"
printf 'x' > "$work/unchecked.ota.bin"
if cmake -DOTA_INFO="$work/cannot-check" -DOTA_FILE="$work/unchecked.ota.bin" \
     -P "$work/prefix/lib/cmake/ImageGenHeader/ImageGenHeaderVerify.cmake" > "$work/log" 2>&1; then
  fail "an OTA file ota_info could not check passed"
fi
[ ! -e "$work/unchecked.ota.bin" ] || fail "an OTA file ota_info could not check was left behind"

# An image made by a firmware target's POST_BUILD command, declared as its
# BYPRODUCTS and named in DEPENDS, packs in one build from scratch.
printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(post_build LANGUAGES NONE)' \
  'find_package(ImageGenHeader 1 REQUIRED)' 'add_custom_target(fw ALL)' \
  "add_custom_command(TARGET fw POST_BUILD COMMAND \${CMAKE_COMMAND} -E copy_if_different \"$work/app.bin\" fw.bin BYPRODUCTS fw.bin)" \
  'image_gen_header_pack(fw_ota INPUT ${CMAKE_BINARY_DIR}/fw.bin DEPENDS fw MODE image_compress VERIFY)' \
  > "$work/checks/CMakeLists.txt"
rm -rf "$work/checks/build"
cmake -S "$work/checks" -B "$work/checks/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/checks/build" > "$work/log" 2>&1 || { cat "$work/log"; fail "a POST_BUILD image did not pack"; }
[ -s "$work/checks/build/fw_ota.ota.bin" ] || fail "no fw_ota.ota.bin from the POST_BUILD image"

cmake -S "$source/examples/cmake-firmware" -B "$work/in-tree" -G Ninja -DIMAGE_GEN_HEADER_SOURCE="$source" > /dev/null
cmake --build "$work/in-tree" > "$work/log" 2>&1 || { cat "$work/log"; fail "the example does not build from the source tree"; }
[ -s "$work/in-tree/app.ota.bin" ] || fail "no app.ota.bin from the source tree"
echo "1 passed, 0 failed"
