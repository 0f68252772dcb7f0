#!/usr/bin/env bash
# Makes the README's pictures of a fake medium under Xvfb at 1366x768: a medium that
# announces 512 MiB and keeps 192 MiB (nbdkit through nbdfuse, attached with direct I/O),
# ext4 on it, filled by the tool, then read in the window: docs/summary-fake.png (the read's
# summary) and docs/map-fake.png (its map window). Undoes everything it made.
#   sudo scripts/screenshots.sh          (after scripts/test.sh has built the tool and the plugin)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "screenshots.sh: needs root (loop devices, mount)" >&2; exit 1; }
"$here/build.sh" xvfb nbdkit nbdkit-plugin-dev libnbd-bin fuse3 > /dev/null
cmake --build "$top/build" --target fillscan_screenshots fake_medium > /dev/null

work=$(mktemp -d /tmp/fillscan-shots.XXXXXX)
plugin=$top/build/tests/fake_medium.so
source "$here/fake-medium.sh"
xvfb=""
cleanup() {
    set +e
    medium_detach
    [ -n "$xvfb" ] && kill "$xvfb"
    rm -rf "$work"
}
trap cleanup EXIT
medium_attach size=512M keep=192M mode=limit
# Exit 3: the fill stopped where the medium began to lose data, as it should on this fake.
"$top/build/fillscan" --device "$loop" --volume "$work/volume" --batch poll,fill --quiet > /dev/null || [ $? -eq 3 ]

Xvfb :47 -screen 0 1366x768x24 -nolisten tcp &
xvfb=$!
sleep 1
DISPLAY=:47 timeout 120 "$top/build/fillscan_screenshots" "$loop" "$work/volume/" "$top/docs/summary-fake.png" \
    "$top/docs/map-fake.png"
echo "screenshots.sh: wrote docs/summary-fake.png and docs/map-fake.png"
