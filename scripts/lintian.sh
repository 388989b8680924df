#!/usr/bin/env bash
# Runs lintian on the .debs named, failing on errors. The host's lintian if
# it has one; else lintian and what it needs that the host lacks, unpacked
# into build-lintian/ and run from there (scripts/unpack_packages.sh), so
# that checking a package installs nothing: lintian's own dependencies can
# want newer versions of packages the host has (perl's modules), which
# installing would upgrade.
# Usage: scripts/lintian.sh DEB...
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if command -v lintian > /dev/null; then
  exec lintian --fail-on error "$@"
fi
scripts=$here/scripts
root=$here/build-lintian
"$scripts/install_packages.sh" perl dpkg-dev
[ -e "$root/packages" ] || { rm -rf "$root"; "$scripts/unpack_packages.sh" --missing-from-host "$(dpkg --print-architecture)" "$root" lintian; }
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
perl_version=$(perl -e 'printf "%vd", $^V' | cut -d. -f1,2)
PERL5LIB=$root/usr/share/perl5:$root/usr/lib/$triplet/perl5/$perl_version${PERL5LIB:+:$PERL5LIB} \
LD_LIBRARY_PATH=$root/usr/lib/$triplet:$root/lib/$triplet${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
PATH=$root/usr/bin:$PATH \
  exec "$root/usr/bin/lintian" --fail-on error "$@"
