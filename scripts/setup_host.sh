#!/usr/bin/env bash
# The one change to this host that the cross builds' tests need beyond
# installed packages: qemu-user registered with binfmt_misc for arm64, armhf
# and s390x programs, so that a test can start a built tool as it is (the
# kernel hands it to qemu, which takes the target's root from
# QEMU_LD_PREFIX). Run once, as root or with sudo; CI runs it before its
# stages. No stage changes the host beyond installing packages it lacks.
# With --remove, the entries this script registers are removed again; with
# --check, it only says whether they are there (exit status 1 if not).
# Usage: scripts/setup_host.sh [--remove | --check]
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
entries=(aarch64 arm s390x)
binfmt=/proc/sys/fs/binfmt_misc

if [ "${1:-}" = --check ]; then
  for entry in "${entries[@]}"; do
    [ -e "$binfmt/qemu-$entry" ] ||
      { echo "qemu-user is not registered for $entry programs: run scripts/setup_host.sh first" >&2; exit 1; }
  done
  exit 0
fi
if [ "${1:-}" = --remove ]; then
  for entry in "${entries[@]}"; do
    [ ! -e "$binfmt/qemu-$entry" ] || echo -1 | "${sudo[@]}" tee "$binfmt/qemu-$entry" > /dev/null
  done
  exit 0
fi

# qemu-user-binfmt holds the entries (/usr/lib/binfmt.d) and the launchers
# they name; a container's package scripts register none of them.
scripts/install_packages.sh --no-install-recommends qemu-user qemu-user-binfmt
[ -e "$binfmt/register" ] || "${sudo[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
for entry in "${entries[@]}"; do
  [ -e "$binfmt/qemu-$entry" ] || "${sudo[@]}" tee "$binfmt/register" < "/usr/lib/binfmt.d/qemu-$entry.conf" > /dev/null
done
echo "qemu-user handles ${entries[*]} programs (binfmt_misc)"
