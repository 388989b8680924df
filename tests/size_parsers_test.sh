#!/usr/bin/env bash
# The CMake function's MAX_SIZE check, which runs when CMake configures,
# before any tool is built, takes exactly the sizes ota_info --max-size takes:
# each size below is given to both, and they must agree.
# Usage: tests/size_parsers_test.sh OTA_INFO SOURCE_DIR
set -uo pipefail
ota_info=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/check.cmake" <<'CMAKE'
include("${SOURCE}/cmake/ImageGenHeaderPack.cmake")
file(READ "${SIZE_FILE}" size)  # as written: -D would trim its blanks
_image_gen_header_check_size(test "${size}")
CMAKE
: > "$work/empty.ota.bin"
failed=0
for size in 0 0X10 '4 K' 3GiB 18446744073709551615 0xFFFFFFFFFFFFFFFF 17179869183G 0x3FFFFFFFFFFFFFK 017179869183G \
            18446744073709551616 0x10000000000000000 17179869184G 0x40000000000000K 17592186044416M \
            '4  K' ' 4K' '4 ' '4K ' 4KB 4k 0x K -1 ''; do
  printf '%s' "$size" > "$work/size"
  cmake -DSOURCE="$source" -DSIZE_FILE="$work/size" -P "$work/check.cmake" > /dev/null 2>&1 && cmake_says=takes || cmake_says=refuses
  said=$("$ota_info" --max-size "$size" "$work/empty.ota.bin" 2>&1)
  case $said in *"needs a size"*) tool_says=refuses ;; *) tool_says=takes ;; esac
  if [ "$cmake_says" != "$tool_says" ]; then
    echo "FAIL: MAX_SIZE '$size': the CMake function $cmake_says it, ota_info $tool_says it"
    failed=$((failed + 1))
  fi
done
[ "$failed" = 0 ] && echo "the CMake function and ota_info agree on every size"
[ "$failed" = 0 ]
