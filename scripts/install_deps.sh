#!/usr/bin/env bash
# Installs what building image_gen_header and ota_info and running their tests
# needs, when it is missing: on Debian or Ubuntu with apt-get (through sudo
# when not root); on any other system it lists what is missing and stops.
# Usage: scripts/install_deps.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian package, then what shows that it is there on another system: a
# command, or a header under the usual include directories.
needs=(
  "g++ command:c++"
  "cmake command:cmake"
  "ninja-build command:ninja"
  "xz-utils command:xz"
  "libgtest-dev header:gtest/gtest.h"
  "liblzma-dev header:lzma.h"
  "libssl-dev header:openssl/evp.h"
  "nlohmann-json3-dev header:nlohmann/json.hpp"
  "python3-dev command:python3-config"
  "python3-pybind11 command:pybind11-config"
  "python3-pytest command:pytest-3"
)

missing=()
if command -v dpkg-query > /dev/null && command -v apt-get > /dev/null; then
  scripts/install_packages.sh "${needs[@]%% *}"
else
  for need in "${needs[@]}"; do
    package=${need%% *} what=${need#* }
    case $what in
      command:*) command -v "${what#command:}" > /dev/null && continue ;;
      header:*) for dir in /usr/include /usr/local/include /opt/homebrew/include; do
                  [ -e "$dir/${what#header:}" ] && continue 2
                done ;;
    esac
    missing+=("$package (${what#*:})")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "this system has no apt-get; install these (Debian names, what they provide) and run again:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
  fi
fi
