#!/usr/bin/env bash
# Builds image_gen_header and ota_info and runs the whole test suite, from a
# fresh clone. It first installs the packages the build and the tests need
# that are missing (scripts/install_deps.sh: on Debian or Ubuntu with sudo
# when not root; on any other system it lists what is missing and stops).
# Usage: scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_deps.sh
cmake --workflow --preset default
