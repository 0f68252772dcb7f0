#!/usr/bin/env bash
# Installs from Debian's archive what building needs and the machine lacks (and any further
# packages named on the command line), then configures and builds into build/.
#   scripts/build.sh [PACKAGE ...]
#   FILLSCAN_TARGET=fillscan scripts/build.sh    builds that target only (here: the tool alone)
# Every name must be a real package, not a virtual one (nbdfuse, for one, is provided by
# libnbd-bin): dpkg-query never finds a virtual name installed, so apt would run every time.
# apt-get update and install run only when a package is really missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libmount-dev libtsk-dev qttranslations5-l10n
          fonts-dejavu-core e2fsprogs util-linux mount "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "build.sh: installing ${missing[*]}"
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

target=()
[ -n "${FILLSCAN_TARGET:-}" ] && target=(--target "$FILLSCAN_TARGET")
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" "${target[@]}"
