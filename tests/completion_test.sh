#!/usr/bin/env bash
# Drives the bash completion functions as bash does (COMP_WORDS, COMP_CWORD)
# and checks what each offers. Usage: tests/completion_test.sh SOURCE_DIR
set -uo pipefail
source "$1/completions/image_gen_header"
source "$1/completions/ota_info"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch app.bin app.ota.bin 'with blank.bin' && mkdir sub

passed=0 failed=0
# check "EXPECTED, sorted and space-separated" WORD...: completes the last word.
check() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    "_$1"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    if [ "$got" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $* -> '$got', want '$expected'"
    fi
}

check "app.bin sub with blank.bin" image_gen_header ""
check "app.bin" image_gen_header app
check "flash_remapping image_compress image_copy" image_gen_header app.bin ""
check "image_compress image_copy" image_gen_header app.bin image_c
check "" image_gen_header app.bin image_copy ""
check "--help --no-progress --output --progress --version -V -h -o" image_gen_header -
check "--output" image_gen_header --o
check "app.bin app.ota.bin sub with blank.bin" image_gen_header -o ""
check "app.bin sub with blank.bin" image_gen_header -o out.ota.bin ""
check "flash_remapping image_compress image_copy" image_gen_header --output out.ota.bin app.bin ""
check "--help --no-progress --output --progress --version -V -h -o" image_gen_header app.bin image_copy -
check "--extract --help --json --max-size --no-progress --progress --sha256 --version" ota_info --
check "--extract --help --json --max-size --no-progress --progress --sha256 --version -V -h" ota_info -
check "--json" ota_info --j
check "app.bin app.ota.bin" ota_info --json app
check "" ota_info --max-size ""
check "app.bin app.ota.bin sub with blank.bin" ota_info --extract ""
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
