# Shared by the CI stages: sourced, never run. Each stage can run alone from
# the top of a clone: it installs what it needs and builds what it uses.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

# The Linux tools in build/, built if a stage runs before the test stage did.
linux_tools() {
  scripts/install_deps.sh
  [ -x build/image_gen_header ] && [ -x build/ota_info ] && return
  cmake --preset default > /dev/null
  cmake --build --preset default
}
