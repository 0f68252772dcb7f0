#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool.
#   ./scripts/run.sh                                      on a throw-away demo volume
#   ./scripts/run.sh --device /dev/sdX --volume /mnt/dir  on a real disk and its mounted volume
# Reading a raw device needs root, so the script runs itself through sudo, keeping the
# display so the window can open.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
    export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}
    exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh"
if [ "$#" -eq 0 ]; then
    exec "$here/demo.sh"
fi
exec "$here/../build/fillscan" "$@"
