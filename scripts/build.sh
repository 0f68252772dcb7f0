#!/usr/bin/env bash
# Installs from Debian's archive what building needs and the machine lacks (and any further
# packages named on the command line), then configures and builds into build/.
#   scripts/build.sh [PACKAGE ...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libmount-dev qttranslations5-l10n help2man
          fonts-dejavu-core e2fsprogs util-linux mount "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "build.sh: installing ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
