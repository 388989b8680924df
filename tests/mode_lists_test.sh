#!/usr/bin/env bash
# The files that list the packing modes by hand (the CMake function, the
# bash completion, the fuzz seeds, the same-bytes stage, the docs) name every
# mode the tool itself knows (its --help): a mode added to the tool and
# forgotten in one of them fails here, naming the file.
# Usage: tests/mode_lists_test.sh IMAGE_GEN_HEADER SOURCE_DIR
set -euo pipefail
tool=$1
source=$2
mapfile -t modes < <("$tool" --help | sed -n '/^MODE is one of:/,/^$/s/^  \([a-z_]*\) .*/\1/p')
[ ${#modes[@]} -ge 3 ] || { echo "FAIL: no modes found in $tool --help" >&2; exit 1; }
for file in cmake/ImageGenHeaderPack.cmake completions/image_gen_header fuzz/make_seeds.sh .ci/stages/same-bytes \
            README.md docs/image_gen_header.1.in; do
  for mode in "${modes[@]}"; do
    grep -qw -- "$mode" "$source/$file" || { echo "FAIL: $file does not name the mode $mode" >&2; exit 1; }
  done
done
echo "${#modes[@]} modes, named in every list"
