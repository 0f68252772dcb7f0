#!/usr/bin/env bash
# What the fill and the read do on each file system users fill: a 1 GiB loop device over an
# image on tmpfs, the file system made on it, then the tool's poll, fill and read. One line
# each, for the README's table.
#   sudo bench/filesystems.sh        (after scripts/test.sh has built the tool)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tool=${FILLSCAN_TOOL:-$here/../build/fillscan}
[ "$(id -u)" -eq 0 ] || { echo "filesystems.sh: needs root" >&2; exit 1; }
[ -x "$tool" ] || { echo "filesystems.sh: build the tool first (scripts/test.sh)" >&2; exit 1; }
command -v jq > /dev/null || { apt-get update > /dev/null; apt-get install -y jq > /dev/null; }

work=$(mktemp -d /tmp/fillscan-fs.XXXXXX)
loop="" mounted="" tmpfs=""
detach() {
    [ -n "$mounted" ] && umount "$mounted"
    [ -n "$loop" ] && losetup -d "$loop"
    mounted="" loop=""
}
cleanup() { set +e; detach; [ -n "$tmpfs" ] && umount "$tmpfs"; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir "$work/ram" "$work/volume"
mount -t tmpfs -o size=1100M tmpfs "$work/ram"
tmpfs=$work/ram

printf '%-22s %9s %9s %14s %5s %9s | %-9s %-20s %9s %s\n' "file system" "size MiB" "free MiB" "written MiB" files "fill/s" \
    verdict "placement (source)" "read/s" "on device"
for case in "ext4 ext4" "xfs xfs" "btrfs btrfs" "exfat exfat-fuse" "ntfs ntfs-3g" "ext4-limit ext4"; do
    read -r name type <<< "$case"
    fs=${name%-limit}
    truncate -s 1G "$work/ram/disk.img"
    loop=$(losetup --show -f "$work/ram/disk.img")
    case $fs in
    ext4) mkfs.ext4 -q -F "$loop" ;;
    xfs | btrfs) "mkfs.$fs" -q -f "$loop" > /dev/null ;;
    exfat) mkfs.exfat "$loop" > /dev/null ;;
    ntfs) mkfs.ntfs -Q -F -q "$loop" 2> /dev/null ;;
    esac
    mount -t "$type" "$loop" "$work/volume"
    mounted=$work/volume
    read -r size free < <(stat -f -c '%b %f %S' "$work/volume" | awk '{ printf "%.0f %.0f\n", $1 * $3 / 1048576, $2 * $3 / 1048576 }')
    limit=()
    # FAT32's largest file is 4 GiB - 1; this volume is smaller, so the limit is scaled down.
    [ "$name" = ext4-limit ] && limit=(prlimit --fsize=$((96 * 1048576 + 12345)))
    out=$("${limit[@]}" "$tool" --device "$loop" --volume "$work/volume" --batch poll,fill,read --json --quiet || true)
    fill=$(sed -n 2p <<< "$out")
    read=$(sed -n 3p <<< "$out")
    printf '%-22s %9s %9s %8.0f (%2.0f%%) %5s %9s | %-9s %-20s %9s %s\n' "$name" "$size" "$free" \
        "$(jq '.bytes_written / 1048576' <<< "$fill")" "$(jq ".bytes_written / 1048576 / $free * 100" <<< "$fill")" \
        "$(jq .files <<< "$fill")" "$(jq -r '(.bytes_written / 1048576 / (.elapsed_ms / 1000) | floor | tostring) + " MiB"' <<< "$fill")" \
        "$(jq -r .verdict <<< "$read")" "$(jq -r '.placement + " (" + .placement_source + ")"' <<< "$read")" \
        "$(jq -r '(.bytes_read / 1048576 / (.elapsed_ms / 1000) | floor | tostring) + " MiB"' <<< "$read")" \
        "$(jq -r .volume_on_device <<< "$read")"
    detach
    rm -f "$work/ram/disk.img"
done
