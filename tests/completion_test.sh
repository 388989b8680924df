#!/usr/bin/env bash
# Drives the bash completion functions as bash does (COMP_WORDS, COMP_CWORD)
# and checks what each offers: the options and modes are the ones each
# tool's --help gives, so that the script and the tool cannot drift apart.
# Usage: tests/completion_test.sh SOURCE_DIR IMAGE_GEN_HEADER OTA_INFO
set -uo pipefail
source "$1/completions/image_gen_header"
source "$1/completions/ota_info"
# The options a --help lists (lines "  -o, --output OUTPUT"), sorted, in one line.
help_options() {
  "$1" --help | grep -oE '^  -[-a-zA-Z0-9]+(, --[-a-z0-9]+)?' | tr -d ' ' | tr ',' '\n' | grep -vx -- -- |
    LC_ALL=C sort | paste -sd' '
}
pack_options=$(help_options "$2")
info_options=$(help_options "$3")
info_long_options=$(tr ' ' '\n' <<< "$info_options" | grep -- '^--' | paste -sd' ')
modes=$("$2" --help | sed -n '/^MODE is one of:/,/^$/s/^  \([a-z_]*\) .*/\1/p' | LC_ALL=C sort | paste -sd' ')
[ -n "$pack_options" ] && [ -n "$info_options" ] && [ -n "$modes" ] || { echo "FAIL: no options or modes in --help"; exit 1; }
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
check "$modes" image_gen_header app.bin ""
check "image_compress image_copy" image_gen_header app.bin image_c
check "" image_gen_header app.bin image_copy ""
check "$pack_options" image_gen_header -
check "--output" image_gen_header --o
check "app.bin app.ota.bin sub with blank.bin" image_gen_header -o ""
check "app.bin sub with blank.bin" image_gen_header -o out.ota.bin ""
check "$modes" image_gen_header --output out.ota.bin app.bin ""
check "$pack_options" image_gen_header app.bin image_copy -
check "$info_long_options" ota_info --
check "$info_options" ota_info -
check "--json" ota_info --j
check "app.bin app.ota.bin" ota_info --json app
check "" ota_info --max-size ""
check "app.bin app.ota.bin sub with blank.bin" ota_info --extract ""
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
