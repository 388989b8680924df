#!/usr/bin/env bash
# Installs the Debian packages named that are not installed yet, with apt-get
# (through sudo when not root), and changes no package the host has: for
# this one call every installed package is pinned at its version, so a
# package that could only come with an upgrade or a downgrade of one fails,
# with apt's reason, rather than changing the host under the build. An index
# that cannot be fetched (a mirror mid-sync) is not fatal by itself: apt goes
# on with the indexes it has, and only a package it cannot find fails.
# --no-install-recommends leaves out what they only recommend (Wine
# recommends much that a test run does not need).
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
pins=$(mktemp)
trap 'rm -f "$pins"' EXIT
chmod 644 "$pins"
dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' |
  awk '$1 == "ii" { printf "Package: %s\nPin: version %s\nPin-Priority: 1001\n\n", $2, $3 }' > "$pins"

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt=("${sudo[@]}" apt-get -q -o Acquire::Retries=3)
"${apt[@]}" update || echo "warning: some package indexes could not be fetched; going on with those there are" >&2
"${apt[@]}" -o Dir::Etc::Preferences="$pins" install -y "${options[@]}" "${missing[@]}" ||
  { echo "could not install ${missing[*]}: apt says why above (one needs a package this host has at another" \
         "version, or is in no index)" >&2; exit 1; }
