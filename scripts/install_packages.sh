#!/usr/bin/env bash
# Installs the Debian packages named that are not installed yet, with apt-get
# (through sudo when not root); --no-install-recommends leaves out what they
# only recommend (Wine recommends much that a test run does not need).
# Usage: scripts/install_packages.sh [--no-install-recommends] PACKAGE...
set -euo pipefail
options=()
if [ "${1:-}" = --no-install-recommends ]; then
  options=(--no-install-recommends)
  shift
fi
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0
sudo=()
if [ "$(id -u)" != 0 ]; then
  command -v sudo > /dev/null || { echo "missing packages (install them as root): ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${options[@]}" "${missing[@]}"
