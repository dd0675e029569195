#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when missing.
set -euo pipefail
# tzdata: the time-zone tests need the zone files (they skip without them).
# fonts-dejavu-core: DejaVu Sans Mono shows record texts as code page 437.
# clamav-daemon: the scan tests start a clamd of their own (with a database
# they write, nothing downloaded); clamdscan is the scan benchmark's baseline.
# lld: links the test programs in a third of the default linker's time.
# The package (`make package`) and its test: dpkg-dev (dpkg-shlibdeps) and
# file for cpack, man-db, desktop-file-utils and lintian for the checks.
packages=(cmake make g++ pkg-config qt6-base-dev libsqlite3-dev sqlite3 libzip-dev zip
          clang libclang-rt-14-dev lld xauth xvfb tzdata
          libarchive-dev libarchive-tools p7zip-full lhasa gcab genisoimage xorriso arj
          postgresql-15 libpq-dev fonts-dejavu-core zlib1g-dev clamav-daemon clamdscan
          dpkg-dev file man-db desktop-file-utils lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
