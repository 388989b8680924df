#!/usr/bin/env bash
# Writes seed OTA files for the fuzzer, one per packing mode, made from the
# sample image, each behind the one byte with which the target picks its
# chunk size. Usage: fuzz/make_seeds.sh IMAGE_GEN_HEADER CORPUS_DIR
set -euo pipefail
tool=$(realpath "$1")
corpus=$2
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for mode in image_copy image_compress flash_remapping; do
    cp "$here/examples/sample.bin" "$work/seed.bin"
    (cd "$work" && "$tool" seed.bin "$mode" > /dev/null)
    { printf '\005'; cat "$work/seed.ota.bin"; } > "$corpus/$mode.ota.bin"
done
