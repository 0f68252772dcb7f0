#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite; fails when a test fails.
# The tests attach loop devices and mount file systems, so they run as root (through sudo
# when started by another user).
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh"
cd "$here/../build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
