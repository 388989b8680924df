#!/usr/bin/env bash
# Times image_gen_header side by side with the plain commands it competes with,
# in one run, alternating the two, and prints medians, their ratio and the peak
# memory of each:
#   image_copy     against cp of the same file       (4 MiB, 256 MiB, 1 GiB)
#   image_compress against the bare xz command line  (4 MiB)
# It works on tmpfs (/dev/shm) where there is one, so that the disk's
# write-back does not time the runs.
# Usage: bench/compare_tools.sh [path/to/image_gen_header] [repetitions]
set -euo pipefail

tool=$(realpath "${1:-build/image_gen_header}")
reps=${2:-11}
if [ -d /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT
cd "$work"

# Firmware-like content: a mix of compressible and random stretches, with a
# label at 0x100.
make_image() {  # name size_in_MiB
    local name=$1 mib=$2
    : > "$name"
    for ((i = 0; i < mib; i++)); do
        head -c 262144 /dev/urandom >> "$name"
        seq -f '%08g' 1 87381 | head -c 786432 >> "$name"
    done
    printf 'bench\0' | dd of="$name" bs=1 seek=256 conv=notrunc status=none
}

now_ns() { date +%s%N; }

# Runs "$@" once; prints elapsed nanoseconds.
time_once() {
    local start end
    start=$(now_ns)
    "$@" > /dev/null
    end=$(now_ns)
    echo $((end - start))
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

peak_kib() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }

compare() {  # label image reference-command... -- tool-command...
    local label=$1 image=$2
    shift 2
    local ref=() mine=()
    while [ "$1" != "--" ]; do ref+=("$1"); shift; done
    shift
    mine=("$@")
    local ref_times=() mine_times=()
    "${ref[@]}" > /dev/null; "${mine[@]}" > /dev/null  # warm the page cache
    for ((r = 0; r < reps; r++)); do
        rm -f ./*.ota.bin ./*.copy ./*.xz
        ref_times+=("$(time_once "${ref[@]}")")
        rm -f ./*.ota.bin ./*.copy ./*.xz
        mine_times+=("$(time_once "${mine[@]}")")
    done
    local ref_med mine_med
    ref_med=$(printf '%s\n' "${ref_times[@]}" | median)
    mine_med=$(printf '%s\n' "${mine_times[@]}" | median)
    rm -f ./*.ota.bin ./*.copy ./*.xz
    local ref_mem mine_mem
    ref_mem=$(peak_kib "${ref[@]}")
    rm -f ./*.ota.bin ./*.copy ./*.xz
    mine_mem=$(peak_kib "${mine[@]}")
    local image_kib=$(( $(stat -c %s "$image") / 1024 ))
    awk -v l="$label" -v r="$ref_med" -v m="$mine_med" -v rm="$ref_mem" -v mm="$mine_mem" -v ik="$image_kib" 'BEGIN {
        printf "%-28s reference %8.1f ms   image_gen_header %8.1f ms   ratio %.2f   peak %d KiB (image %d KiB)   reference peak %d KiB\n",
               l, r / 1e6, m / 1e6, m / r, mm, ik, rm }'
}

make_image small.bin 4
make_image large.bin 256
make_image huge.bin 1024

echo "repetitions: $reps, medians of wall time, in $work"
compare "image_copy 4 MiB vs cp" small.bin cp small.bin small.copy -- "$tool" small.bin image_copy
compare "image_copy 256 MiB vs cp" large.bin cp large.bin large.copy -- "$tool" large.bin image_copy
compare "image_copy 1 GiB vs cp" huge.bin cp huge.bin huge.copy -- "$tool" huge.bin image_copy
compare "image_compress 4 MiB vs xz" small.bin \
    xz -T1 -f --lzma2=dict=32KiB --check=crc32 -k small.bin -- "$tool" small.bin image_compress
