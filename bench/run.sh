#!/usr/bin/env bash
# Times the tool's fill and read against dd on the same devices, in the same run.
#   sudo bench/run.sh [ROUNDS] [SIZE_MiB]      (defaults: 3 rounds, 2048 MiB)
# Needs root (loop devices, mount, dropping caches) and a build in build/ (scripts/test.sh
# makes one). MB = 10^6 bytes. Each round runs the tool and dd back to back, caches dropped
# before every cold pass; the figures printed are medians over the rounds.
set -euo pipefail

rounds=${1:-3}
size_mib=${2:-2048}
here=$(cd "$(dirname "$0")" && pwd)
bench_io=${BENCH_IO:-$here/../build/bench/bench_io}
[ "$(id -u)" -eq 0 ] || { echo "run.sh: needs root" >&2; exit 1; }
[ -x "$bench_io" ] || { echo "run.sh: $bench_io not built (run scripts/test.sh first)" >&2; exit 1; }

work=$(mktemp -d /tmp/fillscan-bench.XXXXXX)
loop=""
mounts=()
cleanup() {
    set +e
    for m in "${mounts[@]}"; do umount "$m"; done
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

drop_caches() { sync; echo 3 > /proc/sys/vm/drop_caches; }
# MB/s from dd's last line ("... copied, S s, R MB/s"), recomputed from bytes and seconds.
dd_rate() { "$@" 2>&1 | awk '/copied/ { for (i = 1; i <= NF; i++) if ($i == "s,") s = $(i-1); printf "%.1f\n", $1 / 1e6 / s }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The volume: ext4 on a loop device over an image on disk.
truncate -s "${size_mib}M" "$work/disk.img"
loop=$(losetup --show -f "$work/disk.img")
mkfs.ext4 -q "$loop"
mkdir "$work/volume"
mount "$loop" "$work/volume"
mounts+=("$work/volume")
read -r pattern count < <("$bench_io" pattern "$work/volume")
# Images cached in memory: one of fill words (the volume after a fill), one of zeros.
mkdir "$work/tmpfs"
mount -t tmpfs -o size=$((2 * size_mib + 64))M tmpfs "$work/tmpfs"
mounts+=("$work/tmpfs")

echo "fillscan benchmark: ${size_mib} MiB volume on $loop, $rounds rounds, $(nproc) cores"
declare -a fill_tool fill_dd cold_direct cold_buffered cold_dd cold_dd_direct
declare -a hot_fill_tool hot_fill_dd hot_zero_tool hot_zero_dd rss table
for round in $(seq 1 "$rounds"); do
    # Fill: the tool until the volume is full, then dd of as many bytes with fsync.
    rm -f "$work/volume/data.data" "$work/volume/dd.bin"; drop_caches
    read -r _ fill_bytes rate < <("$bench_io" fill "$work/volume")
    fill_tool+=("$rate")
    rm -f "$work/volume/data.data"; drop_caches
    fill_dd+=("$(dd_rate dd if=/dev/zero of="$work/volume/dd.bin" bs=1M count=$((fill_bytes / 1048576)) conv=fsync)")
    rm -f "$work/volume/dd.bin"
    "$bench_io" fill "$work/volume" > /dev/null # leave fill words on the device for the reads

    # Cold reads of the raw device, after the writes have settled; who goes first alternates,
    # since the first read after a pause tends to meet a slower disk.
    sync; sleep 3
    cold_tool() {
        drop_caches
        read -r _ _ rate peak tkib _ < <("$bench_io" read "$loop" direct "$pattern" "$count")
        cold_direct+=("$rate"); rss+=("$peak"); table+=("$tkib")
    }
    cold_dd_pair() {
        drop_caches
        cold_dd_direct+=("$(dd_rate dd if="$loop" of=/dev/null bs=4M iflag=direct)")
        drop_caches
        cold_dd+=("$(dd_rate dd if="$loop" of=/dev/null bs=1M)")
    }
    if [ $((round % 2)) -eq 1 ]; then cold_tool; cold_dd_pair; else cold_dd_pair; cold_tool; fi
    drop_caches
    read -r _ _ rate _ _ _ < <("$bench_io" read "$loop" buffered "$pattern" "$count")
    cold_buffered+=("$rate")

    # Cached images on tmpfs: the tool against dd bs=1M of the same file.
    if [ "$round" -eq 1 ]; then
        sync
        cp "$work/disk.img" "$work/tmpfs/fill.img"
        dd if=/dev/zero of="$work/tmpfs/zero.img" bs=1M count="$size_mib" status=none
    fi
    read -r _ _ rate _ _ _ < <("$bench_io" read "$work/tmpfs/fill.img" direct "$pattern" "$count")
    hot_fill_tool+=("$rate")
    hot_fill_dd+=("$(dd_rate dd if="$work/tmpfs/fill.img" of=/dev/null bs=1M)")
    read -r _ _ rate _ _ _ < <("$bench_io" read "$work/tmpfs/zero.img" direct "$pattern" "$count")
    hot_zero_tool+=("$rate")
    hot_zero_dd+=("$(dd_rate dd if="$work/tmpfs/zero.img" of=/dev/null bs=1M)")

    printf 'round %d: fill %s vs dd %s | cold read %s (buffered %s) vs dd %s / direct %s | tmpfs fill words %s vs %s, zeros %s vs %s MB/s\n' \
        "$round" "${fill_tool[-1]}" "${fill_dd[-1]}" "${cold_direct[-1]}" "${cold_buffered[-1]}" "${cold_dd[-1]}" \
        "${cold_dd_direct[-1]}" "${hot_fill_tool[-1]}" "${hot_fill_dd[-1]}" "${hot_zero_tool[-1]}" "${hot_zero_dd[-1]}"
done

m() { printf '%s\n' "$@" | median; }
# Ratios are taken within a round (the disk's speed swings between rounds), then the median.
ratios() { # tool values, then peer values, as two space-separated lists
    local -a t=($1) p=($2); local i
    for i in "${!t[@]}"; do ratio "${t[$i]}" "${p[$i]}"; echo; done | median
}
faster_dd=()
for i in "${!cold_dd[@]}"; do
    faster_dd+=("$(awk -v a="${cold_dd[$i]}" -v b="${cold_dd_direct[$i]}" 'BEGIN { print (a > b) ? a : b }')")
done
echo
echo "medians over $rounds rounds (MB/s)         tool      peer   ratio  target"
row() { printf '%-38s %8s  %8s   %s  %s\n' "$1" "$(m $2)" "$(m $3)" "$(ratios "$2" "$3")" "$4"; }
row "fill ext4 loop vs dd conv=fsync" "${fill_tool[*]}" "${fill_dd[*]}" ">= 1.00"
row "cold read vs faster of dd 1M/direct 4M" "${cold_direct[*]}" "${faster_dd[*]}" ">= 0.90"
row "  (buffered after DONTNEED, not used)" "${cold_buffered[*]}" "${faster_dd[*]}" ""
row "tmpfs image of fill words vs dd 1M" "${hot_fill_tool[*]}" "${hot_fill_dd[*]}" ">= 0.75"
row "tmpfs image of zeros vs dd 1M" "${hot_zero_tool[*]}" "${hot_zero_dd[*]}" ">= 0.75"
printf 'dd bs=1M %s, dd iflag=direct bs=4M %s (cold medians)\n' "$(m "${cold_dd[@]}")" "$(m "${cold_dd_direct[@]}")"
peak=$(m "${rss[@]}"); tkib=$(m "${table[@]}")
printf 'peak memory of a read: %s KiB; allowed: table %s KiB + 64 MiB = %s KiB\n' "$peak" "$tkib" "$((tkib + 65536))"

if command -v f3write > /dev/null && command -v f3read > /dev/null; then
    rm -f "$work/volume/data.data"; drop_caches
    echo; echo "peers on the same volume:"
    f3write "$work/volume" | tail -n 2
    drop_caches
    f3read "$work/volume" | tail -n 2
fi
