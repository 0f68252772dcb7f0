#!/usr/bin/env bash
# Tries the tool without a spare disk: a 256 MiB image file attached as a loop device, ext4
# made on it and mounted in a temporary directory, and the tool started on them. On exit,
# Ctrl-C included, it unmounts, detaches and deletes exactly what it made.
#   sudo scripts/demo.sh                  the window, on the demo volume
#   sudo scripts/demo.sh --batch [MAP]    poll, fill and read headless; the map goes to MAP
#                                         (default ./fillscan-demo-map.png)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=${FILLSCAN_TOOL:-$here/../build/fillscan}
batch=0
map="$PWD/fillscan-demo-map.png"
if [ "${1:-}" = "--batch" ]; then
    batch=1
    [ -n "${2:-}" ] && map=$2
elif [ -n "${1:-}" ]; then
    echo "usage: $0 [--batch [MAP.png]]" >&2
    exit 2
fi
[ "$(id -u)" -eq 0 ] || { echo "demo.sh: needs root to attach a loop device and mount it (run it with sudo)" >&2; exit 1; }
[ -x "$tool" ] || { echo "demo.sh: $tool is not built (run scripts/run.sh)" >&2; exit 1; }

work=$(mktemp -d /tmp/fillscan-demo.XXXXXX)
image="$work/demo.img"
volume="$work/volume"
loop=""
mounted=""
cleanup() {
    set +e
    [ -n "$mounted" ] && umount "$mounted"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

truncate -s 256M "$image"
loop=$(losetup --show -f "$image")
mkfs.ext4 -q "$loop"
mkdir "$volume"
mount "$loop" "$volume"
mounted=$volume
echo "demo: image $image on $loop, mounted at $volume" >&2

if [ "$batch" -eq 1 ]; then
    status=0
    "$tool" --device "$loop" --volume "$volume" --batch poll,fill,read --map "$map" || status=$?
    [ "$status" -eq 0 ] && echo "demo: map written to $map" >&2
    exit "$status"
fi
"$tool" --device "$loop" --volume "$volume"
